#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Query.h"

namespace standin {

// Whether a PRELOGIN payload is a well-formed option table.
bool isValidPrelogin(std::span<const std::uint8_t> payload);
// Our PRELOGIN answer: version, encryption not supported, no instance, no MARS.
Bytes preloginReply();

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    std::uint8_t optionFlags2 = 0;
    std::u16string hostName, userName, password, appName, serverName, libraryName, language,
        database;
};
std::optional<Login7> decodeLogin7(std::span<const std::uint8_t> payload);

// The text of a SQLBatch (after its ALL_HEADERS).
std::optional<std::u16string> decodeBatch(std::span<const std::uint8_t> payload);

struct RpcParam {
    std::u16string name;  // folded, with its @; often empty
    bool output = false;
    TypedValue value;
};

struct RpcCall {
    std::uint16_t procId = 0;  // 0 when called by name
    std::u16string procName;
    std::uint16_t options = 0;
    std::vector<RpcParam> params;
};

// The calls of an RPC request (several may be batched in one message).
std::optional<std::vector<RpcCall>> decodeRpc(std::span<const std::uint8_t> payload);

}  // namespace standin
