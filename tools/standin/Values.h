#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "Bytes.h"

namespace standin {

enum class SqlType : std::uint8_t {
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Decimal,
    Float,
    DateTime,
    NVarChar,
    VarBinary,
};

// A column's or expression's type. length counts characters for NVarChar
// and bytes for VarBinary; kMaxLength stands for (max).
struct TypeInfo {
    SqlType type = SqlType::Int;
    std::int32_t length = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;

    static constexpr std::int32_t kMaxLength = -1;
    static TypeInfo of(SqlType t) { return TypeInfo{t, 0, 0, 0}; }
    static TypeInfo text(std::int32_t chars) { return TypeInfo{SqlType::NVarChar, chars, 0, 0}; }
    static TypeInfo binary(std::int32_t bytes) { return TypeInfo{SqlType::VarBinary, bytes, 0, 0}; }
    static TypeInfo decimal(int precision, int scale) {
        return TypeInfo{SqlType::Decimal, 0, static_cast<std::uint8_t>(precision),
                        static_cast<std::uint8_t>(scale)};
    }
    bool isInteger() const { return type >= SqlType::Bit && type <= SqlType::BigInt; }
    bool isNumeric() const { return type >= SqlType::Bit && type <= SqlType::Float; }
    bool operator==(const TypeInfo&) const = default;
};

// datetime as on the wire: days since 1900-01-01 and 1/300 s since midnight.
struct DateTime {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    bool operator==(const DateTime&) const = default;
};

struct Decimal {
    __int128 unscaled = 0;
    std::uint8_t scale = 0;
    bool operator==(const Decimal&) const = default;
};

// A value; its SQL type travels separately (column or expression type).
// Bit and every integer type are held as int64.
using Value =
    std::variant<std::monostate, std::int64_t, double, Decimal, std::u16string, DateTime, Bytes>;

inline bool isNull(const Value& v) {
    return std::holds_alternative<std::monostate>(v);
}

// A failed conversion or computation, carrying the server error to raise.
struct SqlError {
    std::int32_t number = 0;
    std::uint8_t severity = 16;
    std::u16string text;
};

template <typename T>
using Result = std::variant<T, SqlError>;

// Converts a value of type `from` to type `to`, as CAST does.
Result<Value> convert(const Value& v, const TypeInfo& from, const TypeInfo& to);
// Renders a value as text, as converting it to nvarchar does.
std::u16string toText(const Value& v, const TypeInfo& type);
// The type both sides of a comparison, UNION or arithmetic are brought to.
TypeInfo commonType(const TypeInfo& a, const TypeInfo& b);
// Three-way comparison of two non-NULL values of one type; text compares
// case-insensitively, as the server's default collation does.
int compareValues(const Value& a, const Value& b, const TypeInfo& type);

// T-SQL type name (as in CAST) with its arguments; nullopt if unknown.
std::optional<TypeInfo> typeFromName(std::u16string_view name, std::optional<int> arg1,
                                     std::optional<int> arg2);
std::u16string typeName(const TypeInfo& t);

// Style 0 ("Jan  2 2024  3:04AM"), 120 ("2024-01-02 03:04:05"),
// 121 (with milliseconds) or 126 (ISO 8601 with a T), as CONVERT does.
std::u16string formatDateTime(const DateTime& dt, int style);
DateTime dateTimeNow();
std::optional<DateTime> parseDateTime(std::u16string_view text);

// ASCII case folding, enough for the identifiers and keywords met here.
std::u16string foldCase(std::u16string_view s);
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace standin
