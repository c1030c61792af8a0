// Counts every received RTP packet that any session of this process takes
// from its pool and gives back. The engine is linked into the test program
// and the pool's two operations are wrapped at link time (see CMakeLists.txt),
// so the count covers every engine of the room without changing the engine.
#pragma once

#include <cstdint>

namespace integration {

struct PacketCounts {
    uint64_t taken = 0;
    uint64_t givenBack = 0;
};

PacketCounts CountedPackets();

}  // namespace integration
