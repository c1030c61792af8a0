// Running counts behind the host's statistics interface, and the rates made
// from them when a host asks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

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

// RTP packets and their bytes (header included) of one medium.
// Atomic: voice is counted on the thread of the component that sends it.
struct PacketCount {
    static constexpr size_t kRtpHeaderBytes = 12;
    std::atomic<uint64_t> packets{0};
    std::atomic<uint64_t> bytes{0};
    PacketCount() = default;
    PacketCount(const PacketCount& other) { *this = other; }
    PacketCount& operator=(const PacketCount& other) {
        packets = other.packets.load();
        bytes = other.bytes.load();
        return *this;
    }
    void Add(size_t payloadBytes) {
        packets.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(payloadBytes + kRtpHeaderBytes, std::memory_order_relaxed);
    }
};

struct LocalCounts {
    uint64_t framesCaptured = 0;
    uint64_t framesCoded = 0;
    uint64_t keyFramesRegular = 0;
    uint64_t keyFramesAsked = 0;
    uint64_t keyFramesByCoder = 0;
    PacketCount videoSent;  // the stream each peer gets
    PacketCount voiceSent;
    RateMeter codedRate;
    RateMeter videoBitRate;
    RateMeter voiceBitRate;
};

// What one peer's record has received, with the rates made from it.
struct PeerCounts {
    PacketCount videoReceived;
    PacketCount voiceReceived;
    RateMeter shownRate;
    RateMeter videoInBitRate;
    RateMeter voiceInBitRate;
    RateMeter videoOutBitRate;
    RateMeter voiceOutBitRate;
};
