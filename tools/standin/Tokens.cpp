#include "Tokens.h"

#include <cstring>

namespace standin {
namespace {

constexpr std::uint8_t kIntN = 0x26, kBitN = 0x68, kDecimalN = 0x6A, kFloatN = 0x6D,
                       kDateTimeN = 0x6F, kNVarChar = 0xE7, kVarBinary = 0xA5;
constexpr std::uint16_t kPlpMarker = 0xFFFF;
constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};
constexpr std::uint16_t kNullLength = 0xFFFF;

std::uint8_t intWidth(SqlType t) {
    switch (t) {
        case SqlType::TinyInt:
            return 1;
        case SqlType::SmallInt:
            return 2;
        case SqlType::Int:
            return 4;
        default:
            return 8;
    }
}

std::uint8_t decimalWidth(int precision) {
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// Byte length a variable-length column announces, or the PLP marker for
// (max) columns and those too long for a plain length.
std::uint16_t maxBytes(const TypeInfo& t) {
    std::int64_t bytes = t.type == SqlType::NVarChar ? 2 * std::int64_t{t.length} : t.length;
    if (t.length == TypeInfo::kMaxLength || bytes > 8000)
        return kPlpMarker;
    return static_cast<std::uint16_t>(bytes < 2 ? 2 : bytes);
}

}  // namespace

void TokenWriter::typeInfo(const TypeInfo& t) {
    switch (t.type) {
        case SqlType::Bit:
            w_.u8(kBitN);
            w_.u8(1);
            break;
        case SqlType::TinyInt:
        case SqlType::SmallInt:
        case SqlType::Int:
        case SqlType::BigInt:
            w_.u8(kIntN);
            w_.u8(intWidth(t.type));
            break;
        case SqlType::Decimal:
            w_.u8(kDecimalN);
            w_.u8(decimalWidth(t.precision));
            w_.u8(t.precision);
            w_.u8(t.scale);
            break;
        case SqlType::Float:
            w_.u8(kFloatN);
            w_.u8(8);
            break;
        case SqlType::DateTime:
            w_.u8(kDateTimeN);
            w_.u8(8);
            break;
        case SqlType::NVarChar:
            w_.u8(kNVarChar);
            w_.u16(maxBytes(t));
            w_.bytes(kCollation);
            break;
        case SqlType::VarBinary:
            w_.u8(kVarBinary);
            w_.u16(maxBytes(t));
            break;
    }
}

void TokenWriter::value(const TypeInfo& t, const Value& v) {
    const bool null = isNull(v);
    switch (t.type) {
        case SqlType::Bit:
        case SqlType::TinyInt:
        case SqlType::SmallInt:
        case SqlType::Int:
        case SqlType::BigInt: {
            std::uint8_t width = t.type == SqlType::Bit ? 1 : intWidth(t.type);
            w_.u8(null ? 0 : width);
            if (null)
                break;
            auto x = static_cast<std::uint64_t>(std::get<std::int64_t>(v));
            for (int i = 0; i < width; ++i)
                w_.u8(static_cast<std::uint8_t>(x >> (8 * i)));
            break;
        }
        case SqlType::Decimal: {
            std::uint8_t width = decimalWidth(t.precision);
            w_.u8(null ? 0 : width);
            if (null)
                break;
            __int128 u = std::get<Decimal>(v).unscaled;
            w_.u8(u < 0 ? 0 : 1);
            auto m = static_cast<unsigned __int128>(u < 0 ? -u : u);
            for (int i = 0; i < width - 1; ++i)
                w_.u8(static_cast<std::uint8_t>(m >> (8 * i)));
            break;
        }
        case SqlType::Float: {
            w_.u8(null ? 0 : 8);
            if (null)
                break;
            std::uint64_t bits;
            double d = std::get<double>(v);
            std::memcpy(&bits, &d, sizeof bits);
            w_.u64(bits);
            break;
        }
        case SqlType::DateTime:
            w_.u8(null ? 0 : 8);
            if (null)
                break;
            w_.u32(static_cast<std::uint32_t>(std::get<DateTime>(v).days));
            w_.u32(std::get<DateTime>(v).ticks);
            break;
        case SqlType::NVarChar:
        case SqlType::VarBinary: {
            Bytes scratch;
            std::span<const std::uint8_t> data;
            if (!null && t.type == SqlType::NVarChar) {
                ByteWriter(scratch).utf16(std::get<std::u16string>(v));
                data = scratch;
            } else if (!null) {
                data = std::get<Bytes>(v);
            }
            if (maxBytes(t) == kPlpMarker) {
                if (null) {
                    w_.u64(kPlpNull);
                    break;
                }
                w_.u64(data.size());
                if (!data.empty()) {
                    w_.u32(static_cast<std::uint32_t>(data.size()));
                    w_.bytes(data);
                }
                w_.u32(0);
                break;
            }
            if (null) {
                w_.u16(kNullLength);
                break;
            }
            data = data.first(std::min<std::size_t>(data.size(), maxBytes(t)));
            w_.u16(static_cast<std::uint16_t>(data.size()));
            w_.bytes(data);
            break;
        }
    }
}

void TokenWriter::colMetadata(const std::vector<Column>& columns) {
    w_.u8(0x81);
    w_.u16(static_cast<std::uint16_t>(columns.size()));
    for (const auto& c : columns) {
        w_.u32(0);       // user type
        w_.u16(0x0001);  // nullable
        typeInfo(c.type);
        w_.bVarchar(c.name);
    }
}

void TokenWriter::noMetadata() {
    w_.u8(0x81);
    w_.u16(0xFFFF);
}

void TokenWriter::row(const std::vector<Column>& columns, const Row& r) {
    bool anyNull = false;
    for (const auto& v : r)
        anyNull = anyNull || isNull(v);
    if (!anyNull) {
        w_.u8(0xD1);
        for (std::size_t i = 0; i < columns.size(); ++i)
            value(columns[i].type, r[i]);
        return;
    }
    w_.u8(0xD2);
    Bytes bitmap((columns.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (isNull(r[i]))
            bitmap[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    w_.bytes(bitmap);
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (!isNull(r[i]))
            value(columns[i].type, r[i]);
}

void TokenWriter::message(const Message& m, std::u16string_view serverName,
                          std::u16string_view procName) {
    w_.u8(m.isError() ? 0xAA : 0xAB);
    std::size_t lengthAt = w_.size();
    w_.u16(0);
    w_.u32(static_cast<std::uint32_t>(m.number));
    w_.u8(m.state);
    w_.u8(m.severity);
    w_.usVarchar(m.text);
    w_.bVarchar(serverName);
    w_.bVarchar(procName);
    w_.u32(static_cast<std::uint32_t>(m.line));
    w_.patchU16(lengthAt, static_cast<std::uint16_t>(w_.size() - lengthAt - 2));
}

void TokenWriter::envChange(std::uint8_t type, std::u16string_view newValue,
                            std::u16string_view oldValue) {
    w_.u8(0xE3);
    std::size_t lengthAt = w_.size();
    w_.u16(0);
    w_.u8(type);
    w_.bVarchar(newValue);
    w_.bVarchar(oldValue);
    w_.patchU16(lengthAt, static_cast<std::uint16_t>(w_.size() - lengthAt - 2));
}

void TokenWriter::envChangeCollation(std::span<const std::uint8_t> collation) {
    w_.u8(0xE3);
    w_.u16(static_cast<std::uint16_t>(3 + collation.size()));
    w_.u8(7);
    w_.u8(static_cast<std::uint8_t>(collation.size()));
    w_.bytes(collation);
    w_.u8(0);
}

void TokenWriter::loginAck(std::u16string_view programName, const std::uint8_t (&version)[4]) {
    programName = programName.substr(0, 255);
    w_.u8(0xAD);
    w_.u16(static_cast<std::uint16_t>(1 + 4 + 1 + 2 * programName.size() + 4));
    w_.u8(1);              // SQL interface
    w_.u32be(0x74000004);  // TDS 7.4
    w_.bVarchar(programName);
    w_.bytes(version);
}

void TokenWriter::done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd,
                       std::uint64_t count) {
    w_.u8(static_cast<std::uint8_t>(kind));
    w_.u16(status);
    w_.u16(curCmd);
    w_.u64(count);
}

void TokenWriter::returnStatus(std::int32_t status) {
    w_.u8(0x79);
    w_.u32(static_cast<std::uint32_t>(status));
}

void TokenWriter::returnValueInt(std::uint16_t ordinal, std::optional<std::int32_t> v) {
    w_.u8(0xAC);
    w_.u16(ordinal);
    w_.bVarchar(u"");
    w_.u8(0x01);  // output parameter
    w_.u32(0);
    w_.u16(0x0001);
    typeInfo(TypeInfo::of(SqlType::Int));
    value(TypeInfo::of(SqlType::Int), v ? Value{std::int64_t{*v}} : Value{});
}

void TokenStream::flush(bool more) {
    if (!pending_)
        return;
    auto kind =
        mode_ == Mode::Batch ? TokenWriter::DoneKind::Done : TokenWriter::DoneKind::DoneInProc;
    writer_.done(kind, static_cast<std::uint16_t>(pending_->status | (more ? done::kMore : 0)),
                 pending_->curCmd, pending_->count);
    pending_.reset();
}

void TokenStream::result(ResultSet&& rs) {
    flush(true);
    writer_.colMetadata(rs.columns);
    for (const auto& r : rs.rows)
        writer_.row(rs.columns, r);
}

void TokenStream::message(const Message& m) {
    flush(true);
    sawError_ = sawError_ || m.isError();
    writer_.message(m, serverName_);
}

void TokenStream::databaseChanged(const std::u16string& newName, const std::u16string& oldName) {
    flush(true);
    writer_.envChange(1, newName, oldName);
}

void TokenStream::statementDone(std::uint16_t status, std::uint16_t curCmd, std::uint64_t count) {
    flush(true);
    pending_ = PendingDone{status, curCmd, count};
}

void TokenStream::finish() {
    if (mode_ == Mode::InProc) {
        flush(true);
        return;
    }
    if (!pending_)
        pending_ = PendingDone{0, 0, 0};
    flush(false);
}

}  // namespace standin
