#include "Requests.h"

#include <cstring>

namespace standin {
namespace {

constexpr std::uint8_t kPreloginTerminator = 0xFF;

std::optional<std::u16string> loginString(std::span<const std::uint8_t> p, std::size_t at) {
    ByteReader r(p);
    r.seek(at);
    std::size_t offset = r.u16();
    std::size_t chars = r.u16();
    if (!r.ok() || offset + 2 * chars > p.size())
        return std::nullopt;
    return utf16FromBytes(p.subspan(offset, 2 * chars));
}

// Skips ALL_HEADERS, whose first DWORD is its own total length.
bool skipAllHeaders(ByteReader& r, std::size_t size) {
    std::uint32_t total = r.u32();
    if (!r.ok() || total < 4 || total > size)
        return false;
    r.seek(total);
    return r.ok();
}

// Reads a partially length-prefixed (PLP) value: total length, then chunks.
std::optional<Bytes> readPlp(ByteReader& r, bool& isNull) {
    std::uint64_t total = r.u64();
    isNull = total == ~std::uint64_t{0};
    Bytes out;
    if (isNull)
        return out;
    for (;;) {
        std::uint32_t n = r.u32();
        if (!r.ok())
            return std::nullopt;
        if (n == 0)
            return out;
        auto chunk = r.take(n);
        if (!r.ok())
            return std::nullopt;
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
}

std::u16string latin1(std::span<const std::uint8_t> b) {
    return std::u16string(b.begin(), b.end());
}

std::int64_t signedLE(std::span<const std::uint8_t> b) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < b.size(); ++i)
        v |= std::uint64_t{b[i]} << (8 * i);
    if (b.size() < 8 && !b.empty() && (b.back() & 0x80))
        v |= ~std::uint64_t{0} << (8 * b.size());
    return static_cast<std::int64_t>(v);
}

std::optional<TypedValue> intOfWidth(std::span<const std::uint8_t> b) {
    switch (b.size()) {
        case 0:
            return TypedValue{Value{}, TypeInfo::of(SqlType::Int)};
        case 1:
            return TypedValue{std::int64_t{b[0]}, TypeInfo::of(SqlType::TinyInt)};
        case 2:
            return TypedValue{signedLE(b), TypeInfo::of(SqlType::SmallInt)};
        case 4:
            return TypedValue{signedLE(b), TypeInfo::of(SqlType::Int)};
        case 8:
            return TypedValue{signedLE(b), TypeInfo::of(SqlType::BigInt)};
        default:
            return std::nullopt;
    }
}

std::optional<TypedValue> floatOfWidth(std::span<const std::uint8_t> b) {
    if (b.empty())
        return TypedValue{Value{}, TypeInfo::of(SqlType::Float)};
    if (b.size() == 4) {
        std::uint32_t bits = static_cast<std::uint32_t>(signedLE(b));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return TypedValue{double{f}, TypeInfo::of(SqlType::Float)};
    }
    if (b.size() == 8) {
        std::uint64_t bits = static_cast<std::uint64_t>(signedLE(b));
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return TypedValue{d, TypeInfo::of(SqlType::Float)};
    }
    return std::nullopt;
}

std::optional<TypedValue> moneyOfWidth(std::span<const std::uint8_t> b) {
    const TypeInfo type = TypeInfo::decimal(19, 4);
    if (b.empty())
        return TypedValue{Value{}, type};
    if (b.size() == 4)
        return TypedValue{Decimal{signedLE(b), 4}, type};
    if (b.size() == 8) {
        // High 32 bits first, then the low 32 bits.
        std::uint64_t hi = static_cast<std::uint32_t>(signedLE(b.first(4)));
        std::uint64_t lo = static_cast<std::uint32_t>(signedLE(b.subspan(4)));
        return TypedValue{Decimal{static_cast<std::int64_t>(hi << 32 | lo), 4}, type};
    }
    return std::nullopt;
}

std::optional<TypedValue> dateTimeOfWidth(std::span<const std::uint8_t> b) {
    const TypeInfo type = TypeInfo::of(SqlType::DateTime);
    if (b.empty())
        return TypedValue{Value{}, type};
    if (b.size() == 8)
        return TypedValue{DateTime{static_cast<std::int32_t>(signedLE(b.first(4))),
                                   static_cast<std::uint32_t>(signedLE(b.subspan(4)))},
                          type};
    if (b.size() == 4) {  // smalldatetime: days and minutes
        auto days = static_cast<std::uint16_t>(b[0] | b[1] << 8);
        auto minutes = static_cast<std::uint16_t>(b[2] | b[3] << 8);
        return TypedValue{DateTime{days, std::uint32_t{minutes} * 60u * 300u}, type};
    }
    return std::nullopt;
}

constexpr std::int32_t kDaysFromYearOneTo1900 = 693595;

// date, time, datetime2 and datetimeoffset, brought to datetime.
std::optional<TypedValue> dateTime2(std::uint8_t type, std::uint8_t scale,
                                    std::span<const std::uint8_t> b) {
    const TypeInfo dt = TypeInfo::of(SqlType::DateTime);
    if (b.empty())
        return TypedValue{Value{}, dt};
    std::size_t timeBytes = type == 0x28 ? 0 : scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
    std::size_t dateBytes = type == 0x29 ? 0 : 3;
    std::size_t offsetBytes = type == 0x2B ? 2 : 0;
    if (scale > 7 || b.size() != timeBytes + dateBytes + offsetBytes)
        return std::nullopt;
    std::uint64_t units = 0;
    for (std::size_t i = 0; i < timeBytes; ++i)
        units |= std::uint64_t{b[i]} << (8 * i);
    std::uint64_t perSecond = 1;
    for (int i = 0; i < scale; ++i)
        perSecond *= 10;
    auto ticks = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(units * 300 / perSecond, 300u * 86400u - 1));
    std::int32_t days = 0;
    if (dateBytes)
        days = static_cast<std::int32_t>(b[timeBytes] | b[timeBytes + 1] << 8 |
                                         b[timeBytes + 2] << 16) -
               kDaysFromYearOneTo1900;
    return TypedValue{DateTime{days, ticks}, dt};
}

std::optional<TypedValue> guid(std::span<const std::uint8_t> b) {
    if (b.empty())
        return TypedValue{Value{}, TypeInfo::text(36)};
    if (b.size() != 16)
        return std::nullopt;
    static const int order[] = {3,  2, 1, 0,  -1, 5,  4,  -1, 7,  6,
                                -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
    static const char16_t* hex = u"0123456789ABCDEF";
    std::u16string s;
    for (int i : order) {
        if (i < 0) {
            s += u'-';
            continue;
        }
        s += hex[b[static_cast<std::size_t>(i)] >> 4];
        s += hex[b[static_cast<std::size_t>(i)] & 15];
    }
    return TypedValue{s, TypeInfo::text(36)};
}

std::optional<TypedValue> readValue(ByteReader& r) {
    const std::uint8_t type = r.u8();
    auto fixed = [&](std::size_t n) { return r.take(n); };
    auto byteLength = [&]() {
        std::uint8_t n = r.u8();
        return r.take(n);
    };
    switch (type) {
        case 0x1F:
            return TypedValue{Value{}, TypeInfo::of(SqlType::Int)};  // NULL type
        case 0x30:
            return intOfWidth(fixed(1));
        case 0x34:
            return intOfWidth(fixed(2));
        case 0x38:
            return intOfWidth(fixed(4));
        case 0x7F:
            return intOfWidth(fixed(8));
        case 0x32: {
            auto b = fixed(1);
            if (b.empty())
                return std::nullopt;
            return TypedValue{std::int64_t{b[0] != 0}, TypeInfo::of(SqlType::Bit)};
        }
        case 0x3B:
            return floatOfWidth(fixed(4));
        case 0x3E:
            return floatOfWidth(fixed(8));
        case 0x3D:
            return dateTimeOfWidth(fixed(8));
        case 0x3A:
            return dateTimeOfWidth(fixed(4));
        case 0x7A:
            return moneyOfWidth(fixed(4));
        case 0x3C:
            return moneyOfWidth(fixed(8));
        case 0x26:
            r.u8();
            return intOfWidth(byteLength());
        case 0x68: {
            r.u8();
            auto b = byteLength();
            if (b.empty())
                return TypedValue{Value{}, TypeInfo::of(SqlType::Bit)};
            return TypedValue{std::int64_t{b[0] != 0}, TypeInfo::of(SqlType::Bit)};
        }
        case 0x6D:
            r.u8();
            return floatOfWidth(byteLength());
        case 0x6E:
            r.u8();
            return moneyOfWidth(byteLength());
        case 0x6F:
            r.u8();
            return dateTimeOfWidth(byteLength());
        case 0x24:
            r.u8();
            return guid(byteLength());
        case 0x28:
            return dateTime2(type, 0, byteLength());
        case 0x29:
        case 0x2A:
        case 0x2B: {
            std::uint8_t scale = r.u8();
            return dateTime2(type, scale, byteLength());
        }
        case 0x6A:
        case 0x6C: {
            r.u8();
            std::uint8_t precision = r.u8(), scale = r.u8();
            if (precision < 1 || precision > 38 || scale > precision)
                return std::nullopt;
            const TypeInfo t = TypeInfo::decimal(precision, scale);
            auto b = byteLength();
            if (b.empty())
                return TypedValue{Value{}, t};
            if (b.size() > 17)
                return std::nullopt;
            unsigned __int128 m = 0;
            for (std::size_t i = b.size() - 1; i >= 1; --i)
                m = m << 8 | b[i];
            unsigned __int128 limit = 1;
            for (int i = 0; i < 38; ++i)
                limit *= 10;
            if (m >= limit)
                return std::nullopt;
            auto v = static_cast<__int128>(m);
            return TypedValue{Decimal{b[0] ? v : -v, scale}, t};
        }
        case 0xE7:
        case 0xEF:
        case 0xA7:
        case 0xAF:
        case 0xA5:
        case 0xAD: {
            const bool binary = type == 0xA5 || type == 0xAD;
            const bool wide = type == 0xE7 || type == 0xEF;
            std::uint16_t max = r.u16();
            if (!binary)
                r.skip(5);  // collation
            bool null = false;
            Bytes data;
            if (max == 0xFFFF) {
                auto plp = readPlp(r, null);
                if (!plp)
                    return std::nullopt;
                data = std::move(*plp);
            } else {
                std::uint16_t n = r.u16();
                null = n == 0xFFFF;
                if (!null) {
                    auto b = r.take(n);
                    data.assign(b.begin(), b.end());
                }
            }
            std::int32_t length = max == 0xFFFF ? TypeInfo::kMaxLength
                                                : std::max<std::int32_t>(1, wide ? max / 2 : max);
            TypeInfo t = binary ? TypeInfo::binary(length) : TypeInfo::text(length);
            if (null)
                return TypedValue{Value{}, t};
            if (binary)
                return TypedValue{std::move(data), t};
            return TypedValue{wide ? utf16FromBytes(data) : latin1(data), t};
        }
        case 0x63:
        case 0x23:
        case 0x22: {
            r.u32();
            if (type != 0x22)
                r.skip(5);
            std::uint32_t n = r.u32();
            TypeInfo t = type == 0x22 ? TypeInfo::binary(TypeInfo::kMaxLength)
                                      : TypeInfo::text(TypeInfo::kMaxLength);
            if (n == 0xFFFFFFFF)
                return TypedValue{Value{}, t};
            auto b = r.take(n);
            if (type == 0x22)
                return TypedValue{Bytes(b.begin(), b.end()), t};
            return TypedValue{type == 0x63 ? utf16FromBytes(b) : latin1(b), t};
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

bool isValidPrelogin(std::span<const std::uint8_t> payload) {
    ByteReader r(payload);
    for (;;) {
        std::uint8_t token = r.u8();
        if (!r.ok())
            return false;
        if (token == kPreloginTerminator)
            return true;
        std::size_t offset = r.u16be();
        std::size_t length = r.u16be();
        if (!r.ok() || offset + length > payload.size())
            return false;
    }
}

Bytes preloginReply() {
    struct Option {
        std::uint8_t token;
        Bytes data;
    };
    const Option options[] = {
        {0x00, {10, 50, 0x06, 0x40, 0, 0}},  // version 10.50.1600
        {0x01, {0x02}},                      // encryption not supported
        {0x02, {0x00}},                      // instance: the default one
        {0x03, {}},                          // thread id
        {0x04, {0x00}},                      // no MARS
    };
    Bytes out;
    ByteWriter w(out);
    std::size_t offset = std::size(options) * 5 + 1;
    for (const auto& o : options) {
        w.u8(o.token);
        w.u16be(static_cast<std::uint16_t>(offset));
        w.u16be(static_cast<std::uint16_t>(o.data.size()));
        offset += o.data.size();
    }
    w.u8(kPreloginTerminator);
    for (const auto& o : options)
        w.bytes(o.data);
    return out;
}

std::optional<Login7> decodeLogin7(std::span<const std::uint8_t> p) {
    constexpr std::size_t kFixedPart = 94;
    if (p.size() < kFixedPart)
        return std::nullopt;
    ByteReader r(p);
    Login7 l;
    r.seek(4);
    l.tdsVersion = r.u32();
    l.packetSize = r.u32();
    r.seek(25);
    l.optionFlags2 = r.u8();
    struct Field {
        std::size_t at;
        std::u16string* into;
    };
    const Field fields[] = {{36, &l.hostName}, {40, &l.userName},   {44, &l.password},
                            {48, &l.appName},  {52, &l.serverName}, {60, &l.libraryName},
                            {64, &l.language}, {68, &l.database}};
    for (const auto& f : fields) {
        auto s = loginString(p, f.at);
        if (!s)
            return std::nullopt;
        *f.into = std::move(*s);
    }
    // The password travels with each byte's nibbles swapped and XORed with 0xA5.
    for (auto& c : l.password) {
        auto lo = static_cast<std::uint8_t>(c) ^ 0xA5,
             hi = static_cast<std::uint8_t>(c >> 8) ^ 0xA5;
        lo = ((lo << 4) | (lo >> 4)) & 0xFF;
        hi = ((hi << 4) | (hi >> 4)) & 0xFF;
        c = static_cast<char16_t>(hi << 8 | lo);
    }
    return l;
}

std::optional<std::u16string> decodeBatch(std::span<const std::uint8_t> payload) {
    ByteReader r(payload);
    if (!skipAllHeaders(r, payload.size()))
        return std::nullopt;
    return utf16FromBytes(payload.subspan(r.pos()));
}

std::optional<std::vector<RpcCall>> decodeRpc(std::span<const std::uint8_t> payload) {
    ByteReader r(payload);
    if (!skipAllHeaders(r, payload.size()))
        return std::nullopt;
    std::vector<RpcCall> calls;
    while (r.ok() && !r.atEnd()) {
        RpcCall c;
        std::uint16_t nameLength = r.u16();
        if (nameLength == 0xFFFF)
            c.procId = r.u16();
        else
            c.procName = r.utf16(nameLength);
        c.options = r.u16();
        while (r.ok() && !r.atEnd()) {
            std::size_t at = r.pos();
            std::uint8_t first = r.u8();
            if (first == 0xFF || first == 0xFE)
                break;  // next call follows
            r.seek(at);
            RpcParam param;
            param.name = foldCase(r.utf16(r.u8()));
            param.output = (r.u8() & 0x01) != 0;
            auto v = readValue(r);
            if (!v || !r.ok())
                return std::nullopt;
            param.value = std::move(*v);
            c.params.push_back(std::move(param));
        }
        if (!r.ok())
            return std::nullopt;
        calls.push_back(std::move(c));
    }
    return calls;
}

}  // namespace standin
