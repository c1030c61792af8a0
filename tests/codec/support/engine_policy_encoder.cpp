#include "tests/codec/support/engine_policy_encoder.h"

#include "tests/codec/support/synthetic_video.h"

#include <cstdlib>

namespace codec_test {

EnginePolicyEncoder::EnginePolicyEncoder(int width, int height) {
    encoder_.Open(width, height, &sink_);
    InitCodecLibrary();
    if (!encoder_.CreateEncoder()) std::abort();
}

CodedFrame EnginePolicyEncoder::Encode(const uint8_t* picture) {
    const size_t before = sink_.frames.size();
    encoder_.Encode(picture, framesSinceKeyFrame_ > kKeyFrameAfter);
    framesSinceKeyFrame_ = encoder_.KeyFrameFlag() ? 0 : framesSinceKeyFrame_ + 1;
    return sink_.frames.size() > before ? sink_.frames.back() : CodedFrame{};
}

std::vector<CodedFrame> EnginePolicyEncoder::EncodeMoving(int first, int count) {
    std::vector<CodedFrame> frames;
    for (int n = first; n < first + count; ++n) frames.push_back(Encode(MovingPicture(n).data()));
    return frames;
}

}  // namespace codec_test
