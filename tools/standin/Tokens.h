#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Bytes.h"
#include "Results.h"

namespace standin {

// Writes TDS 7.4 reply tokens.
class TokenWriter {
public:
    explicit TokenWriter(Bytes& out) : w_(out) {}

    enum class DoneKind : std::uint8_t { Done = 0xFD, DoneProc = 0xFE, DoneInProc = 0xFF };

    void colMetadata(const std::vector<Column>& columns);
    // COLMETADATA saying "no new metadata", as cursor fetches send it.
    void noMetadata();
    // ROW, or NBCROW when the row holds a NULL.
    void row(const std::vector<Column>& columns, const Row& row);
    void message(const Message& m, std::u16string_view serverName,
                 std::u16string_view procName = {});
    void envChange(std::uint8_t type, std::u16string_view newValue, std::u16string_view oldValue);
    void envChangeCollation(std::span<const std::uint8_t> collation);
    void loginAck(std::u16string_view programName, const std::uint8_t (&version)[4]);
    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t count);
    void returnStatus(std::int32_t status);
    void returnValueInt(std::uint16_t ordinal, std::optional<std::int32_t> value);

private:
    void typeInfo(const TypeInfo& t);
    void value(const TypeInfo& t, const Value& v);

    ByteWriter w_;
};

// The server's default collation, SQL_Latin1_General_CP1_CI_AS.
inline constexpr std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// A ResultSink that writes tokens. Each statement's DONE is held back until
// the next token shows whether more follow (DONE_MORE). In a batch, finish()
// writes the final DONE; inside a procedure (sp_executesql, the cursor
// procedures) statements end with DONEINPROC and the caller ends the reply.
class TokenStream : public ResultSink {
public:
    enum class Mode { Batch, InProc };
    TokenStream(Bytes& out, Mode mode, std::u16string serverName)
        : writer_(out), mode_(mode), serverName_(std::move(serverName)) {}

    void result(ResultSet&& rs) override;
    void message(const Message& m) override;
    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override;
    void statementDone(std::uint16_t status, std::uint16_t curCmd, std::uint64_t count) override;

    void finish();
    bool sawError() const { return sawError_; }
    TokenWriter& writer() { return writer_; }

private:
    struct PendingDone {
        std::uint16_t status, curCmd;
        std::uint64_t count;
    };
    void flush(bool more);

    TokenWriter writer_;
    Mode mode_;
    std::u16string serverName_;
    std::optional<PendingDone> pending_;
    bool sawError_ = false;
};

}  // namespace standin
