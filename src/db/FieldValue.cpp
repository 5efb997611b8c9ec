#include "db/FieldValue.h"

#include <charconv>
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

std::optional<std::int64_t> FieldValue::toInt64() const {
    switch (kind()) {
        case Kind::Float:
        case Kind::Double: {
            const double t = std::trunc(kind() == Kind::Float ? *get<float>() : *get<double>());
            // 2^63 is the first double past the range.
            if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
                return std::nullopt;
            return std::int64_t(t);
        }
        case Kind::Text: {
            const QByteArray& t = std::get<0>(value_);
            std::int64_t v = 0;
            const char* end = t.constData() + t.size();
            const auto [at, error] = std::from_chars(t.constData(), end, v);
            if (t.isEmpty() || error != std::errc() || at != end)
                return std::nullopt;
            return v;
        }
        default:
            if (std::optional<std::int32_t> v = toInt32())
                return *v;
            return std::nullopt;
    }
}

}  // namespace quill
