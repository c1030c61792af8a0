// The engine's own counts behind the host's statistics interface, and the
// rates made from them and from the transmission's counts when a host asks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies what fits in the host's struct, keeping the size it gave.
template <typename Statistics>
int HandToHost(const Statistics& filled, Statistics* out) {
    const uint32_t size = out->size;
    std::memcpy(out, &filled, std::min<size_t>(size, sizeof filled));
    out->size = size;
    return 1;
}

// A rate from a running count: the average since the previous sample that was
// at least a second earlier, so hosts polling at any pace see steady figures.
class RateMeter {
public:
    double Sample(uint32_t nowMs, uint64_t count);

private:
    bool started_ = false;
    uint32_t lastMs_ = 0;
    uint64_t lastCount_ = 0;
    double rate_ = 0;
};

struct LocalCounts {
    uint64_t framesCaptured = 0;
    uint64_t framesCoded = 0;
    uint64_t codedBits = 0;  // as on the wire, headers of every fragment counted
    uint64_t keyFramesRegular = 0;
    uint64_t keyFramesAsked = 0;
    uint64_t keyFramesByCoder = 0;
    RateMeter codedRate;
    RateMeter videoBitRate;
    RateMeter voiceBitRate;
};

// The rates of one peer's figures.
struct PeerCounts {
    RateMeter shownRate;
    RateMeter videoInBitRate;
    RateMeter voiceInBitRate;
    RateMeter videoOutBitRate;
    RateMeter voiceOutBitRate;
};
