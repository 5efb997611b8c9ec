#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <variant>

namespace quill {

// A typed column value as ODBCDB::ReadColumn hands it out. "No value" is an
// empty text, never a separate state.
class FieldValue {
public:
    enum class Kind { Text, Int32, Int16, Byte, Float, Double, Logical, DateTime, Binary };

    // Days since 1899-12-30; the fraction is the time of day.
    struct DateTime {
        double days = 0;
        bool operator==(const DateTime&) const = default;
    };
    struct Binary {
        QByteArray bytes;
        bool operator==(const Binary&) const = default;
    };

    FieldValue() = default;  // empty text
    static FieldValue text(QByteArray utf8) {
        return FieldValue(Storage(std::in_place_index<0>, std::move(utf8)));
    }
    static FieldValue int32(std::int32_t v) { return FieldValue(Storage(v)); }
    static FieldValue int16(std::int16_t v) { return FieldValue(Storage(v)); }
    static FieldValue byte(std::uint8_t v) { return FieldValue(Storage(v)); }
    static FieldValue real(float v) { return FieldValue(Storage(v)); }
    static FieldValue dbl(double v) { return FieldValue(Storage(v)); }
    static FieldValue logical(bool v) { return FieldValue(Storage(v)); }
    static FieldValue dateTime(double days) { return FieldValue(Storage(DateTime{days})); }
    static FieldValue binary(QByteArray bytes) {
        return FieldValue(Storage(Binary{std::move(bytes)}));
    }

    Kind kind() const { return Kind(value_.index()); }
    bool isEmptyText() const { return kind() == Kind::Text && std::get<0>(value_).isEmpty(); }

    // The text of a Text value (UTF-8 on the wire); empty for any other kind.
    QString toText() const;
    QByteArray textBytes() const;

    // A byte, 16-bit or 32-bit integer as it is, a float truncated toward
    // zero; nothing for text, logical, date-time, binary, or a float out of
    // range.
    std::optional<std::int32_t> toInt32() const;
    // As toInt32, 64 bits wide; also a text that is a whole number in
    // decimal and nothing else, the form in which a bigint arrives.
    std::optional<std::int64_t> toInt64() const;

    // The alternative of the given type, when the value holds it.
    template <class T>
    const T* get() const {
        return std::get_if<T>(&value_);
    }

    bool operator==(const FieldValue&) const = default;

private:
    // Alternatives in the order of Kind.
    using Storage = std::variant<QByteArray, std::int32_t, std::int16_t, std::uint8_t, float,
                                 double, bool, DateTime, Binary>;
    explicit FieldValue(Storage v) : value_(std::move(v)) {}
    Storage value_;
};

}  // namespace quill
