#include "Packets.h"

#include <algorithm>

namespace standin {

void MessageAssembler::feed(std::span<const std::uint8_t> data) {
    if (consumed_ > 0 && consumed_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
        consumed_ = 0;
    }
    buffer_.insert(buffer_.end(), data.begin(), data.end());
}

std::optional<Request> MessageAssembler::next() {
    while (!broken_ && buffer_.size() - consumed_ >= kPacketHeaderSize) {
        const std::uint8_t* h = buffer_.data() + consumed_;
        std::size_t length = static_cast<std::size_t>(h[2] << 8 | h[3]);
        if (length < kPacketHeaderSize || length > maxPacket_) {
            broken_ = true;
            break;
        }
        if (buffer_.size() - consumed_ < length)
            break;
        std::uint8_t type = h[0];
        bool last = (h[1] & kStatusEndOfMessage) != 0;
        if (type == static_cast<std::uint8_t>(PacketType::Attention)) {
            // An attention stands alone, even in the middle of a request.
            consumed_ += length;
            inMessage_ = false;
            partial_ = {};
            return Request{type, {}};
        }
        if (!inMessage_) {
            partial_ = Request{type, {}};
            inMessage_ = true;
        }
        if (partial_.payload.size() + length > maxMessage_) {
            broken_ = true;
            break;
        }
        partial_.payload.insert(partial_.payload.end(), h + kPacketHeaderSize, h + length);
        consumed_ += length;
        if (last) {
            inMessage_ = false;
            return std::move(partial_);
        }
    }
    return std::nullopt;
}

bool MessageAssembler::attentionPending() const {
    std::size_t at = consumed_;
    while (buffer_.size() - at >= kPacketHeaderSize) {
        const std::uint8_t* h = buffer_.data() + at;
        if (h[0] == static_cast<std::uint8_t>(PacketType::Attention))
            return true;
        std::size_t length = static_cast<std::size_t>(h[2] << 8 | h[3]);
        if (length < kPacketHeaderSize)
            return false;
        at += length;
    }
    return false;
}

Bytes framePackets(PacketType type, std::span<const std::uint8_t> payload, std::size_t packetSize,
                   std::uint16_t spid) {
    const std::size_t room = std::max<std::size_t>(packetSize, 512) - kPacketHeaderSize;
    Bytes out;
    out.reserve(payload.size() + (payload.size() / room + 1) * kPacketHeaderSize);
    ByteWriter w(out);
    std::size_t at = 0;
    std::uint8_t id = 1;
    do {
        std::size_t n = std::min(room, payload.size() - at);
        bool last = at + n == payload.size();
        w.u8(static_cast<std::uint8_t>(type));
        w.u8(last ? kStatusEndOfMessage : 0);
        w.u16be(static_cast<std::uint16_t>(n + kPacketHeaderSize));
        w.u16be(spid);
        w.u8(id++);
        w.u8(0);
        w.bytes(payload.subspan(at, n));
        at += n;
    } while (at < payload.size());
    return out;
}

}  // namespace standin
