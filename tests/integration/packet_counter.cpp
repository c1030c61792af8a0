#include "tests/integration/packet_counter.h"

#include <atomic>

namespace rtp {
class RTPPacket;
class RTPPacketPool;
}  // namespace rtp

namespace {
std::atomic<uint64_t> g_taken{0};
std::atomic<uint64_t> g_givenBack{0};
}  // namespace

// The pool's members, by their linker names: RTPPacketPool::Acquire() and
// RTPPacketPool::Release(RTPPacket*). A member function receives its object
// as the first argument.
extern "C" {
rtp::RTPPacket* __real__ZN3rtp13RTPPacketPool7AcquireEv(rtp::RTPPacketPool* pool);
bool __real__ZN3rtp13RTPPacketPool7ReleaseEPNS_9RTPPacketE(rtp::RTPPacketPool* pool, rtp::RTPPacket* packet);

rtp::RTPPacket* __wrap__ZN3rtp13RTPPacketPool7AcquireEv(rtp::RTPPacketPool* pool) {
    rtp::RTPPacket* packet = __real__ZN3rtp13RTPPacketPool7AcquireEv(pool);
    if (packet) g_taken.fetch_add(1);
    return packet;
}

// A packet offered to a pool that does not own it, or given back twice, is
// refused and not counted.
bool __wrap__ZN3rtp13RTPPacketPool7ReleaseEPNS_9RTPPacketE(rtp::RTPPacketPool* pool, rtp::RTPPacket* packet) {
    const bool accepted = __real__ZN3rtp13RTPPacketPool7ReleaseEPNS_9RTPPacketE(pool, packet);
    if (accepted) g_givenBack.fetch_add(1);
    return accepted;
}
}

namespace integration {
PacketCounts CountedPackets() { return PacketCounts{g_taken.load(), g_givenBack.load()}; }
}  // namespace integration
