// Local sound to 50-byte voice frames (layout in voice_frame.h).
#pragma once

#include "voice/codec/voice_frame.h"

#include <cstdint>

struct OpusEncoder;
struct OpusRepacketizer;

namespace voice {

// Constant bit rate: every 10 ms Opus frame is exactly this long, TOC byte
// included, so that three of them and the code-3 header fit in 48 bytes.
inline constexpr int kSubframeBytes = 16;
inline constexpr int kBitRate = kSubframeBytes * 8 * 1000 / (kFrameMs / 3);  // 12800 bit/s
// Loss the encoder plans its in-band redundancy for.
inline constexpr int kExpectedLossPercent = 10;

class VoiceEncoder {
public:
    VoiceEncoder();
    ~VoiceEncoder();
    VoiceEncoder(const VoiceEncoder&) = delete;
    VoiceEncoder& operator=(const VoiceEncoder&) = delete;

    bool Ready() const { return encoder_ != nullptr; }
    // Codes 480 samples into frame[0..49] with the next sequence number.
    bool Encode(const int16_t* pcm, uint8_t* frame);

private:
    OpusEncoder* encoder_ = nullptr;
    OpusRepacketizer* repacketizer_ = nullptr;
    uint16_t sequence_ = 0;
};

}  // namespace voice
