#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Bytes.h"

namespace standin {

// TDS packet types of the requests this server answers, and of its replies.
enum class PacketType : std::uint8_t {
    SqlBatch = 0x01,
    PreTds7Login = 0x02,
    Rpc = 0x03,
    Reply = 0x04,
    Attention = 0x06,
    Login7 = 0x10,
    Prelogin = 0x12,
};

constexpr std::size_t kPacketHeaderSize = 8;
constexpr std::uint8_t kStatusEndOfMessage = 0x01;

// A whole client message: the payloads of its packets joined up to the one
// that carries end-of-message.
struct Request {
    std::uint8_t type = 0;
    Bytes payload;
};

// Cuts a client's byte stream into requests. A packet whose length field is
// impossible (shorter than its header or longer than allowed) makes the
// stream unusable: the connection has to be dropped.
class MessageAssembler {
public:
    explicit MessageAssembler(std::size_t maxPacketSize = 32768,
                              std::size_t maxMessageSize = 1u << 30)
        : maxPacket_(maxPacketSize), maxMessage_(maxMessageSize) {}

    void feed(std::span<const std::uint8_t> data);
    // The next complete message, if one has arrived.
    std::optional<Request> next();
    bool broken() const { return broken_; }
    // Whether an ATTENTION packet sits among the bytes not yet taken.
    bool attentionPending() const;

private:
    Bytes buffer_;
    std::size_t consumed_ = 0;
    Request partial_;
    bool inMessage_ = false;
    bool broken_ = false;
    std::size_t maxPacket_;
    std::size_t maxMessage_;
};

// Frames a reply payload as packets of at most packetSize bytes (header
// included), the last one flagged end-of-message.
Bytes framePackets(PacketType type, std::span<const std::uint8_t> payload, std::size_t packetSize,
                   std::uint16_t spid);

}  // namespace standin
