#include "db/ColumnValues.h"

#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quill::db {

namespace {

constexpr std::int64_t kMaxBoundBuffer = 512;
constexpr double kMinDays = -657434;  // 0100-01-01
constexpr double kMaxDays = 2958465;  // 9999-12-31

bool isCharacter(int t) {
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR;
}

bool isLong(int t) {
    return t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_LONGVARBINARY;
}

bool isInteger(int t) {
    return t == SQL_BIGINT || t == SQL_INTEGER || t == SQL_SMALLINT || t == SQL_TINYINT;
}

// The number at the start of the text, as atoi-like parsing reads it.
std::int64_t leadingInteger(const QByteArray& text) {
    const char* p = text.constData();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p < end && *p == '+')
        ++p;
    std::int64_t v = 0;
    std::from_chars(p, end, v);
    return v;
}

double leadingDouble(const QByteArray& text) {
    const char* p = text.constData();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p < end && *p == '+')
        ++p;
    double v = 0;
    std::from_chars(p, end, v);
    return v;
}

// Days from 1970-01-01 in the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

}  // namespace

std::int64_t textBufferSize(int sqlType, std::uint64_t precision) {
    const auto p = std::int64_t(std::min<std::uint64_t>(precision, std::uint64_t(1) << 40));
    if (sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL)
        return p + 3;
    if (isLong(sqlType))
        return 1;
    if (isCharacter(sqlType))
        return p * 3 + 1;
    if (isInteger(sqlType))
        return p + 2;
    return p + 1;
}

bool readsWhole(int sqlType, std::uint64_t precision) {
    return isLong(sqlType) || (isCharacter(sqlType) && precision == 0);
}

bool isBoundColumn(int sqlType, std::int64_t bufferSize) {
    if (isLong(sqlType) || sqlType == SQL_VARBINARY || sqlType == SQL_BINARY)
        return false;
    return bufferSize <= kMaxBoundBuffer;
}

FieldValue fromBoundText(int sqlType, const QByteArray& text) {
    switch (sqlType) {
        case SQL_INTEGER:
            return FieldValue::int32(std::int32_t(leadingInteger(text)));
        case SQL_SMALLINT:
            return FieldValue::int16(std::int16_t(leadingInteger(text)));
        case SQL_TINYINT:
            return FieldValue::byte(std::uint8_t(leadingInteger(text)));
        case SQL_REAL:
            return FieldValue::real(float(leadingDouble(text)));
        case SQL_FLOAT:
        case SQL_DOUBLE:
            return FieldValue::dbl(leadingDouble(text));
        case SQL_BIT:
            return FieldValue::logical(leadingDouble(text) != 0);
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            return FieldValue::binary({});
        default:
            return FieldValue::text(text);
    }
}

double oleDays(int year, int month, int day, int hour, int minute, int second,
               std::uint32_t nanoseconds) {
    const std::int64_t epoch = daysFromCivil(1899, 12, 30);
    const double days = std::clamp(
        double(daysFromCivil(year, unsigned(month), unsigned(day)) - epoch), kMinDays, kMaxDays);
    const double fraction = (hour * 3600.0 + minute * 60.0 + second + nanoseconds / 1e9) / 86400.0;
    return days < 0 ? days - fraction : days + fraction;
}

QByteArray utf8Prefix(const QByteArray& text, qsizetype n) {
    if (n >= text.size())
        return text;
    if (n <= 0)
        return {};
    // Back up over continuation bytes to the lead byte of the cut character.
    qsizetype cut = n;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.left(cut);
}

QByteArray withoutBrokenTail(const QByteArray& text) {
    // Find the last lead byte and see whether its sequence is complete.
    qsizetype lead = text.size() - 1;
    while (lead >= 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80)
        --lead;
    if (lead < 0)
        return {};
    const auto b = static_cast<unsigned char>(text[lead]);
    const qsizetype length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    return text.size() - lead < length ? text.left(lead) : text;
}

}  // namespace quill::db
