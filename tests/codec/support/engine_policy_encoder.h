// Codes pictures the way the engine drives the encoder: a key frame is
// forced once more than 25 frames have passed since the last one.
#pragma once

#include "codec/video_enc.h"
#include "tests/codec/support/recording_sinks.h"

#include <cstdint>
#include <vector>

namespace codec_test {

class EnginePolicyEncoder {
public:
    EnginePolicyEncoder(int width = kVideoWidth, int height = kVideoHeight);

    // Codes one picture; returns the frame handed on (empty if none).
    CodedFrame Encode(const uint8_t* picture);
    // Codes MovingPicture(first) .. MovingPicture(first + count - 1).
    std::vector<CodedFrame> EncodeMoving(int first, int count);
    double CpuSeconds() const { return encoder_.CpuSeconds(); }

private:
    static constexpr int kKeyFrameAfter = 25;

    RecordingVideoSink sink_;
    CVideoEnc encoder_;
    int framesSinceKeyFrame_ = 0;
};

}  // namespace codec_test
