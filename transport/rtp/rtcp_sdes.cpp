#include "transport/rtp/rtcp_sdes.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {
namespace {
constexpr size_t kItemHeaderBytes = 2;

size_t AlignTo4(size_t offset) { return (offset + 3) & ~size_t{3}; }

// The offset after the chunk at `offset`, or 0 when it does not fit.
size_t SkipChunk(const uint8_t* body, size_t length, size_t offset) {
    if (length - offset < 4) return 0;
    offset += 4;
    while (offset < length) {
        if (body[offset] == kSDESEnd) return AlignTo4(offset + 1) <= length ? AlignTo4(offset + 1) : 0;
        if (length - offset < kItemHeaderBytes) return 0;
        const size_t itemLength = body[offset + 1];
        if (length - offset - kItemHeaderBytes < itemLength) return 0;
        offset += kItemHeaderBytes + itemLength;
    }
    return 0;
}
}  // namespace

bool RTCPSDESReader::Parse(const RTCPPacket& packet) {
    body_ = nullptr;
    length_ = offset_ = 0;
    chunksLeft_ = 0;
    inChunk_ = false;
    if (packet.GetPacketType() != kRTCPSourceDescription) return false;
    const uint8_t* body = packet.GetBody();
    const size_t length = packet.GetBodyLength();
    size_t offset = 0;
    for (int chunk = 0; chunk < packet.GetCount(); ++chunk) {
        offset = SkipChunk(body, length, offset);
        if (offset == 0) return false;
    }
    body_ = body;
    length_ = length;
    chunksLeft_ = packet.GetCount();
    return true;
}

bool RTCPSDESReader::NextChunk(uint32_t* ssrc) {
    if (inChunk_) {
        Item rest;
        while (NextItem(&rest)) {
        }
    }
    if (chunksLeft_ == 0) return false;
    --chunksLeft_;
    *ssrc = Read32(body_ + offset_);
    offset_ += 4;
    inChunk_ = true;
    return true;
}

bool RTCPSDESReader::NextItem(Item* item) {
    if (!inChunk_) return false;
    if (body_[offset_] == kSDESEnd) {
        offset_ = AlignTo4(offset_ + 1);
        inChunk_ = false;
        return false;
    }
    item->type = body_[offset_];
    item->length = body_[offset_ + 1];
    item->data = body_ + offset_ + kItemHeaderBytes;
    offset_ += kItemHeaderBytes + item->length;
    return true;
}

}  // namespace rtp
