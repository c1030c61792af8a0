// Source description packets (RFC 3550 6.5): reading chunk by chunk.
#pragma once

#include "transport/rtp/rtcp_packet.h"

#include <cstddef>
#include <cstdint>

namespace rtp {

enum RTCPSDESItemType : uint8_t {
    kSDESEnd = 0,
    kSDESCNAME = 1,
    kSDESNote = 7,
};

class RTCPSDESReader {
public:
    struct Item {
        uint8_t type;
        const uint8_t* data;
        uint8_t length;
    };

    // Checks the whole packet first: every announced chunk present, items
    // within bounds, each chunk ended by a null item; false otherwise.
    bool Parse(const RTCPPacket& packet);

    // Moves to the next chunk; false after the last.
    bool NextChunk(uint32_t* ssrc);
    // The next item of the current chunk; false at its end.
    bool NextItem(Item* item);

private:
    const uint8_t* body_ = nullptr;
    size_t length_ = 0;
    size_t offset_ = 0;
    int chunksLeft_ = 0;
    bool inChunk_ = false;
};

}  // namespace rtp
