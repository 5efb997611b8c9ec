#include "db/FieldValue.h"

#include <cmath>
#include <limits>

namespace quill {

QString FieldValue::toText() const {
    return QString::fromUtf8(textBytes());
}

QByteArray FieldValue::textBytes() const {
    const QByteArray* t = std::get_if<0>(&value_);
    return t ? *t : QByteArray();
}

std::optional<std::int32_t> FieldValue::toInt32() const {
    auto fromFloating = [](double v) -> std::optional<std::int32_t> {
        double t = std::trunc(v);
        if (!(t >= std::numeric_limits<std::int32_t>::min() &&
              t <= std::numeric_limits<std::int32_t>::max()))
            return std::nullopt;  // NaN or out of range
        return std::int32_t(t);
    };
    switch (kind()) {
        case Kind::Int32:
            return *get<std::int32_t>();
        case Kind::Int16:
            return *get<std::int16_t>();
        case Kind::Byte:
            return *get<std::uint8_t>();
        case Kind::Float:
            return fromFloating(*get<float>());
        case Kind::Double:
            return fromFloating(*get<double>());
        default:
            return std::nullopt;
    }
}

}  // namespace quill
