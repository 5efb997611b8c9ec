#include "Values.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

namespace standin {
namespace {

constexpr std::int32_t kMinDays = -53690;   // 1753-01-01
constexpr std::int32_t kMaxDays = 2958463;  // 9999-12-31
constexpr std::uint32_t kTicksPerDay = 300u * 86400u;

std::u16string ascii(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's method).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    int year;
    unsigned month, day;
};

Civil civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(yoe + era * 400 + (m <= 2)), m, d};
}

const std::int64_t kEpoch1900 = daysFromCivil(1900, 1, 1);

int rank(SqlType t) {
    switch (t) {
        case SqlType::VarBinary:
            return 0;
        case SqlType::NVarChar:
            return 1;
        case SqlType::Bit:
            return 2;
        case SqlType::TinyInt:
            return 3;
        case SqlType::SmallInt:
            return 4;
        case SqlType::Int:
            return 5;
        case SqlType::BigInt:
            return 6;
        case SqlType::Decimal:
            return 7;
        case SqlType::Float:
            return 8;
        case SqlType::DateTime:
            return 9;
    }
    return 0;
}

int integerDigits(SqlType t) {
    switch (t) {
        case SqlType::Bit:
            return 1;
        case SqlType::TinyInt:
            return 3;
        case SqlType::SmallInt:
            return 5;
        case SqlType::Int:
            return 10;
        default:
            return 19;
    }
}

__int128 pow10(int n) {
    __int128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

bool fitsInteger(std::int64_t v, SqlType t) {
    switch (t) {
        case SqlType::Bit:
            return true;
        case SqlType::TinyInt:
            return v >= 0 && v <= 255;
        case SqlType::SmallInt:
            return v >= INT16_MIN && v <= INT16_MAX;
        case SqlType::Int:
            return v >= INT32_MIN && v <= INT32_MAX;
        default:
            return true;
    }
}

SqlError overflow(const TypeInfo& to) {
    return {8115, 16,
            u"Arithmetic overflow error converting expression to data type " + typeName(to) + u"."};
}

SqlError conversionFailed(const std::u16string& text, const TypeInfo& to) {
    if (to.type == SqlType::DateTime)
        return {241, 16,
                u"Conversion failed when converting date and/or time from character string."};
    if (to.isInteger())
        return {245, 16,
                u"Conversion failed when converting the nvarchar value '" + text +
                    u"' to data type " + typeName(to) + u"."};
    return {8114, 16, u"Error converting data type nvarchar to " + typeName(to) + u"."};
}

std::u16string trimmed(std::u16string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r' || s[b] == u'\n'))
        ++b;
    while (e > b &&
           (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r' || s[e - 1] == u'\n'))
        --e;
    return std::u16string(s.substr(b, e - b));
}

// Parses [+-]digits[.digits] into an unscaled value at the given scale,
// rounding extra fraction digits half away from zero.
std::optional<__int128> parseDecimalText(std::u16string_view s, int scale) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        negative = s[i++] == u'-';
    __int128 v = 0;
    int digits = 0, fraction = 0;
    bool seenPoint = false, roundUp = false;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            return std::nullopt;
        ++digits;
        if (seenPoint && fraction >= scale) {
            // The first digit past the scale decides the rounding.
            if (fraction++ == scale)
                roundUp = c >= u'5';
            continue;
        }
        if (v > pow10(37))
            return std::nullopt;
        v = v * 10 + (c - u'0');
        if (seenPoint)
            ++fraction;
    }
    if (digits == 0)
        return std::nullopt;
    for (int f = std::min(fraction, scale); f < scale; ++f)
        v *= 10;
    if (roundUp)
        ++v;
    return negative ? -v : v;
}

std::u16string decimalText(const Decimal& d) {
    __int128 v = d.unscaled < 0 ? -d.unscaled : d.unscaled;
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    if (d.scale > 0) {
        while (digits.size() <= d.scale)
            digits.insert(digits.begin(), u'0');
        digits.insert(digits.end() - d.scale, u'.');
    }
    return (d.unscaled < 0 ? u"-" : u"") + digits;
}

std::u16string floatText(double d) {
    std::array<char, 64> buf{};
    auto r = std::to_chars(buf.data(), buf.data() + buf.size(), d);
    return ascii(std::string_view(buf.data(), static_cast<std::size_t>(r.ptr - buf.data())));
}

// Brings a number of any numeric type to a Decimal at the given scale.
std::optional<__int128> scaledOf(const Value& v, const TypeInfo& from, int scale) {
    if (from.isInteger())
        return static_cast<__int128>(std::get<std::int64_t>(v)) * pow10(scale);
    if (from.type == SqlType::Float) {
        double x = std::round(std::get<double>(v) * std::pow(10.0, scale));
        if (!(std::fabs(x) < 1e38))
            return std::nullopt;
        return static_cast<__int128>(x);
    }
    const auto& d = std::get<Decimal>(v);
    if (d.scale <= scale)
        return d.unscaled * pow10(scale - d.scale);
    __int128 p = pow10(d.scale - scale);
    __int128 q = d.unscaled / p, r = d.unscaled % p;
    if (2 * (r < 0 ? -r : r) >= p)
        q += d.unscaled < 0 ? -1 : 1;
    return q;
}

double floatOf(const Value& v, const TypeInfo& from) {
    if (from.isInteger())
        return static_cast<double>(std::get<std::int64_t>(v));
    if (from.type == SqlType::Float)
        return std::get<double>(v);
    const auto& d = std::get<Decimal>(v);
    return static_cast<double>(d.unscaled) / std::pow(10.0, d.scale);
}

// Integer part, truncated toward zero, or nullopt when out of int64 range.
std::optional<std::int64_t> integerOf(const Value& v, const TypeInfo& from) {
    if (from.isInteger())
        return std::get<std::int64_t>(v);
    if (from.type == SqlType::Float) {
        double d = std::trunc(std::get<double>(v));
        if (!(d >= -9.2e18 && d <= 9.2e18))
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    const auto& d = std::get<Decimal>(v);
    __int128 q = d.unscaled / pow10(d.scale);
    if (q < INT64_MIN || q > INT64_MAX)
        return std::nullopt;
    return static_cast<std::int64_t>(q);
}

Result<Value> fromText(const std::u16string& raw, const TypeInfo& to) {
    std::u16string s = trimmed(raw);
    switch (to.type) {
        case SqlType::Bit:
            if (equalsIgnoreCase(s, u"true"))
                return Value{std::int64_t{1}};
            if (equalsIgnoreCase(s, u"false"))
                return Value{std::int64_t{0}};
            [[fallthrough]];
        case SqlType::TinyInt:
        case SqlType::SmallInt:
        case SqlType::Int:
        case SqlType::BigInt: {
            auto v = s.find(u'.') == std::u16string::npos ? parseDecimalText(s, 0) : std::nullopt;
            if (!v)
                return conversionFailed(raw, to);
            if (*v < INT64_MIN || *v > INT64_MAX)
                return overflow(to);
            return convert(Value{static_cast<std::int64_t>(*v)}, TypeInfo::of(SqlType::BigInt), to);
        }
        case SqlType::Decimal: {
            auto v = parseDecimalText(s, to.scale);
            if (!v)
                return conversionFailed(raw, to);
            if ((*v < 0 ? -*v : *v) >= pow10(to.precision))
                return overflow(to);
            return Value{Decimal{*v, to.scale}};
        }
        case SqlType::Float: {
            std::string narrow(s.begin(), s.end());
            double d = 0;
            auto r = std::from_chars(narrow.data(), narrow.data() + narrow.size(), d);
            if (narrow.empty() || r.ec != std::errc() || r.ptr != narrow.data() + narrow.size())
                return conversionFailed(raw, to);
            return Value{d};
        }
        case SqlType::DateTime: {
            auto dt = parseDateTime(s);
            if (!dt)
                return conversionFailed(raw, to);
            return Value{*dt};
        }
        default:
            return conversionFailed(raw, to);
    }
}

}  // namespace

std::u16string foldCase(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    return out;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

std::u16string typeName(const TypeInfo& t) {
    switch (t.type) {
        case SqlType::Bit:
            return u"bit";
        case SqlType::TinyInt:
            return u"tinyint";
        case SqlType::SmallInt:
            return u"smallint";
        case SqlType::Int:
            return u"int";
        case SqlType::BigInt:
            return u"bigint";
        case SqlType::Decimal:
            return u"numeric";
        case SqlType::Float:
            return u"float";
        case SqlType::DateTime:
            return u"datetime";
        case SqlType::NVarChar:
            return u"nvarchar";
        case SqlType::VarBinary:
            return u"varbinary";
    }
    return u"";
}

std::optional<TypeInfo> typeFromName(std::u16string_view rawName, std::optional<int> a1,
                                     std::optional<int> a2) {
    std::u16string n = foldCase(rawName);
    auto length = [&](int fallback) {
        int v = a1.value_or(fallback);
        return v == TypeInfo::kMaxLength ? TypeInfo::kMaxLength : v;
    };
    if (n == u"bit")
        return TypeInfo::of(SqlType::Bit);
    if (n == u"tinyint")
        return TypeInfo::of(SqlType::TinyInt);
    if (n == u"smallint")
        return TypeInfo::of(SqlType::SmallInt);
    if (n == u"int" || n == u"integer")
        return TypeInfo::of(SqlType::Int);
    if (n == u"bigint")
        return TypeInfo::of(SqlType::BigInt);
    if (n == u"float" || n == u"real")
        return TypeInfo::of(SqlType::Float);
    if (n == u"datetime" || n == u"smalldatetime")
        return TypeInfo::of(SqlType::DateTime);
    if (n == u"money")
        return TypeInfo::decimal(19, 4);
    if (n == u"smallmoney")
        return TypeInfo::decimal(10, 4);
    if (n == u"decimal" || n == u"numeric" || n == u"dec") {
        int p = a1.value_or(18), s = a2.value_or(0);
        if (p < 1 || p > 38 || s < 0 || s > p)
            return std::nullopt;
        return TypeInfo::decimal(p, s);
    }
    if (n == u"sysname")
        return TypeInfo::text(128);
    if (n == u"nvarchar" || n == u"varchar" || n == u"nchar" || n == u"char" || n == u"ntext" ||
        n == u"text") {
        if (n == u"ntext" || n == u"text")
            return TypeInfo::text(TypeInfo::kMaxLength);
        int len = length(30);
        if (len == 0 || len < TypeInfo::kMaxLength)
            return std::nullopt;
        return TypeInfo::text(len);
    }
    if (n == u"varbinary" || n == u"binary" || n == u"image") {
        if (n == u"image")
            return TypeInfo::binary(TypeInfo::kMaxLength);
        int len = length(30);
        if (len == 0 || len < TypeInfo::kMaxLength)
            return std::nullopt;
        return TypeInfo::binary(len);
    }
    return std::nullopt;
}

TypeInfo commonType(const TypeInfo& a, const TypeInfo& b) {
    if (a.type == b.type) {
        TypeInfo t = a;
        if (a.type == SqlType::NVarChar || a.type == SqlType::VarBinary) {
            bool max = a.length == TypeInfo::kMaxLength || b.length == TypeInfo::kMaxLength;
            t.length = max ? TypeInfo::kMaxLength : std::max(a.length, b.length);
        } else if (a.type == SqlType::Decimal) {
            int scale = std::max(a.scale, b.scale);
            int whole = std::max(a.precision - a.scale, b.precision - b.scale);
            t = TypeInfo::decimal(std::min(38, whole + scale), scale);
        }
        return t;
    }
    const TypeInfo& hi = rank(a.type) > rank(b.type) ? a : b;
    const TypeInfo& lo = rank(a.type) > rank(b.type) ? b : a;
    if (hi.type == SqlType::Decimal && lo.isInteger()) {
        int whole = std::max(hi.precision - hi.scale, integerDigits(lo.type));
        return TypeInfo::decimal(std::min(38, whole + hi.scale), hi.scale);
    }
    return hi;
}

Result<Value> convert(const Value& v, const TypeInfo& from, const TypeInfo& to) {
    if (isNull(v))
        return Value{};
    if (to.type == SqlType::NVarChar) {
        std::u16string s = toText(v, from);
        if (to.length != TypeInfo::kMaxLength && s.size() > static_cast<std::size_t>(to.length))
            s.resize(static_cast<std::size_t>(to.length));
        return Value{std::move(s)};
    }
    if (from.type == SqlType::NVarChar) {
        if (to.type == SqlType::VarBinary) {
            Bytes b;
            ByteWriter(b).utf16(std::get<std::u16string>(v));
            return Value{std::move(b)};
        }
        return fromText(std::get<std::u16string>(v), to);
    }
    if (from.type == SqlType::VarBinary || to.type == SqlType::VarBinary) {
        if (from.type == to.type)
            return v;
        if (from.isInteger() && to.type == SqlType::VarBinary) {
            int width = from.type == SqlType::BigInt     ? 8
                        : from.type == SqlType::Int      ? 4
                        : from.type == SqlType::SmallInt ? 2
                                                         : 1;
            auto x = static_cast<std::uint64_t>(std::get<std::int64_t>(v));
            Bytes b;
            for (int i = width - 1; i >= 0; --i)
                b.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
            return Value{std::move(b)};
        }
        return SqlError{529, 16,
                        u"Explicit conversion from data type " + typeName(from) + u" to " +
                            typeName(to) + u" is not allowed."};
    }
    if (from.type == SqlType::DateTime || to.type == SqlType::DateTime) {
        if (from.type == to.type)
            return v;
        return SqlError{529, 16,
                        u"Explicit conversion from data type " + typeName(from) + u" to " +
                            typeName(to) + u" is not allowed."};
    }
    // Numeric to numeric.
    if (to.type == SqlType::Float)
        return Value{floatOf(v, from)};
    if (to.type == SqlType::Decimal) {
        auto scaled = scaledOf(v, from, to.scale);
        if (!scaled || (*scaled < 0 ? -*scaled : *scaled) >= pow10(to.precision))
            return overflow(to);
        return Value{Decimal{*scaled, to.scale}};
    }
    if (to.type == SqlType::Bit)
        return Value{std::int64_t{floatOf(v, from) != 0}};
    auto i = integerOf(v, from);
    if (!i || !fitsInteger(*i, to.type))
        return overflow(to);
    return Value{*i};
}

std::u16string toText(const Value& v, const TypeInfo& type) {
    if (isNull(v))
        return u"";
    switch (type.type) {
        case SqlType::Bit:
        case SqlType::TinyInt:
        case SqlType::SmallInt:
        case SqlType::Int:
        case SqlType::BigInt:
            return ascii(std::to_string(std::get<std::int64_t>(v)));
        case SqlType::Decimal:
            return decimalText(std::get<Decimal>(v));
        case SqlType::Float:
            return floatText(std::get<double>(v));
        case SqlType::DateTime:
            return formatDateTime(std::get<DateTime>(v), 0);
        case SqlType::NVarChar:
            return std::get<std::u16string>(v);
        case SqlType::VarBinary:
            return utf16FromBytes(std::get<Bytes>(v));
    }
    return u"";
}

std::u16string formatDateTime(const DateTime& dt, int style) {
    Civil c = civilFromDays(kEpoch1900 + dt.days);
    std::uint32_t ms =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(dt.ticks) * 1000 + 150) / 300);
    unsigned hour = ms / 3600000, minute = ms / 60000 % 60, second = ms / 1000 % 60,
             milli = ms % 1000;
    char buf[64];
    if (style == 0) {
        static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        unsigned h12 = hour % 12 == 0 ? 12 : hour % 12;
        std::snprintf(buf, sizeof buf, "%s %2u %d %2u:%02u%s", months[c.month - 1], c.day, c.year,
                      h12, minute, hour < 12 ? "AM" : "PM");
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u%c%02u:%02u:%02u.%03u", c.year, c.month,
                      c.day, style == 126 ? 'T' : ' ', hour, minute, second, milli);
        if (style == 120)
            buf[19] = '\0';
    }
    return ascii(buf);
}

int compareValues(const Value& a, const Value& b, const TypeInfo& type) {
    auto sign = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
    switch (type.type) {
        case SqlType::Float:
            return sign(std::get<double>(a), std::get<double>(b));
        case SqlType::Decimal: {
            int s = std::max(std::get<Decimal>(a).scale, std::get<Decimal>(b).scale);
            return sign(*scaledOf(a, type, s), *scaledOf(b, type, s));
        }
        case SqlType::DateTime: {
            const auto& x = std::get<DateTime>(a);
            const auto& y = std::get<DateTime>(b);
            return x.days != y.days ? sign(x.days, y.days) : sign(x.ticks, y.ticks);
        }
        case SqlType::NVarChar: {
            std::u16string x = foldCase(std::get<std::u16string>(a));
            std::u16string y = foldCase(std::get<std::u16string>(b));
            // Trailing blanks do not count, as with the server's padded comparisons.
            while (!x.empty() && x.back() == u' ')
                x.pop_back();
            while (!y.empty() && y.back() == u' ')
                y.pop_back();
            return x.compare(y) < 0 ? -1 : x == y ? 0 : 1;
        }
        case SqlType::VarBinary: {
            const auto& x = std::get<Bytes>(a);
            const auto& y = std::get<Bytes>(b);
            return x < y ? -1 : x == y ? 0 : 1;
        }
        default:
            return sign(std::get<std::int64_t>(a), std::get<std::int64_t>(b));
    }
}

DateTime dateTimeNow() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    DateTime dt;
    dt.days = static_cast<std::int32_t>(daysFromCivil(local.tm_year + 1900,
                                                      static_cast<unsigned>(local.tm_mon + 1),
                                                      static_cast<unsigned>(local.tm_mday)) -
                                        kEpoch1900);
    std::uint64_t msOfDay =
        static_cast<std::uint64_t>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 +
        static_cast<std::uint64_t>(ms);
    dt.ticks = static_cast<std::uint32_t>(
        std::min<std::uint64_t>((msOfDay * 300 + 500) / 1000, kTicksPerDay - 1));
    return dt;
}

std::optional<DateTime> parseDateTime(std::u16string_view s) {
    std::size_t i = 0;
    auto number = [&](std::size_t digits) -> std::optional<unsigned> {
        if (i + digits > s.size())
            return std::nullopt;
        unsigned v = 0;
        for (std::size_t k = 0; k < digits; ++k) {
            char16_t c = s[i + k];
            if (c < u'0' || c > u'9')
                return std::nullopt;
            v = v * 10 + (c - u'0');
        }
        i += digits;
        return v;
    };
    auto year = number(4);
    if (!year)
        return std::nullopt;
    std::optional<unsigned> month, day;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'/')) {
        char16_t sep = s[i++];
        month = number(2);
        if (!month || i >= s.size() || s[i++] != sep)
            return std::nullopt;
        day = number(2);
    } else {
        month = number(2);
        day = number(2);
    }
    if (!month || !day || *month < 1 || *month > 12 || *day < 1)
        return std::nullopt;
    static const unsigned monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    if (*day > monthDays[*month - 1] || (*month == 2 && *day == 29 && !leap))
        return std::nullopt;
    std::uint64_t ms = 0;
    if (i < s.size()) {
        if (s[i] != u' ' && s[i] != u'T')
            return std::nullopt;
        ++i;
        auto hour = number(2);
        if (!hour || i >= s.size() || s[i++] != u':')
            return std::nullopt;
        auto minute = number(2);
        std::optional<unsigned> second = 0;
        unsigned milli = 0;
        if (i < s.size() && s[i] == u':') {
            ++i;
            second = number(2);
            if (i < s.size() && s[i] == u'.') {
                ++i;
                std::size_t start = i;
                while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && i - start < 4)
                    ++i;
                std::size_t digits = i - start;
                if (digits == 0 || digits > 3)
                    return std::nullopt;
                i = start;
                milli = *number(digits) * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
            }
        }
        if (!minute || !second || *hour > 23 || *minute > 59 || *second > 59 || i != s.size())
            return std::nullopt;
        ms = ((*hour * 60ull + *minute) * 60 + *second) * 1000 + milli;
    }
    std::int64_t days = daysFromCivil(*year, *month, *day) - kEpoch1900;
    std::uint64_t ticks = (ms * 300 + 500) / 1000;
    if (ticks >= kTicksPerDay) {
        ticks -= kTicksPerDay;
        ++days;
    }
    if (days < kMinDays || days > kMaxDays)
        return std::nullopt;
    return DateTime{static_cast<std::int32_t>(days), static_cast<std::uint32_t>(ticks)};
}

}  // namespace standin
