// The received packets of one session. Packets are created only when none is
// free and are reused afterwards, so steady-state reception allocates
// nothing; only a buffer beyond kLargestPooledBufferBytes is freed when its
// packet returns. Every packet belongs to the pool for the pool's whole life.
#pragma once

#include "transport/rtp/rtp_packet.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace rtp {

class RTPPacketPool {
public:
    RTPPacketPool() = default;
    RTPPacketPool(const RTPPacketPool&) = delete;
    RTPPacketPool& operator=(const RTPPacketPool&) = delete;

    RTPPacket* Acquire();
    // False, and nothing changes, for null, a packet of another pool or one
    // already given back.
    bool Release(RTPPacket* packet);

    size_t GetSize() const;
    size_t GetInUse() const;
    // Bytes of packet buffers held, in use or free.
    size_t GetBufferBytes() const;

    // Packets handed out and taken back by every pool of the process since it
    // started: equal whenever every received packet is home.
    struct Totals {
        uint64_t acquired;
        uint64_t released;
    };
    static Totals ProcessTotals();

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<RTPPacket>> storage_;
    RTPPacket* freeList_ = nullptr;
    size_t inUse_ = 0;
};

}  // namespace rtp
