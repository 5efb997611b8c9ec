#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Values.h"

namespace standin {

struct Column {
    std::u16string name;
    TypeInfo type;
};

using Row = std::vector<Value>;

struct ResultSet {
    std::vector<Column> columns;
    std::vector<Row> rows;
};

// A server message: INFO when severity is 10 or less, ERROR above.
struct Message {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 0;
    std::u16string text;
    std::int32_t line = 1;
    bool isError() const { return severity > 10; }
};

// DONE status bits.
namespace done {
constexpr std::uint16_t kMore = 0x01;
constexpr std::uint16_t kError = 0x02;
constexpr std::uint16_t kInTransaction = 0x04;
constexpr std::uint16_t kCount = 0x10;
constexpr std::uint16_t kAttention = 0x20;
}  // namespace done

// Current-command codes carried by DONE tokens.
namespace curcmd {
constexpr std::uint16_t kSelect = 0xC1;
constexpr std::uint16_t kInsert = 0xC3;
}  // namespace curcmd

// Where statement execution delivers what the client is to see, in order.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void result(ResultSet&& rs) = 0;
    virtual void message(const Message& m) = 0;
    virtual void databaseChanged(const std::u16string& newName, const std::u16string& oldName) = 0;
    // The end of one statement that the client gets a DONE for.
    virtual void statementDone(std::uint16_t status, std::uint16_t curCmd, std::uint64_t count) = 0;
};

}  // namespace standin
