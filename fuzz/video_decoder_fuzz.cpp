// Arbitrary coded frames through a decoder: raw, or damaged copies of a real
// stream so the library's deeper paths are reached. The picture buffer and
// every input end at a guard page, so any write past the picture or read
// past the input's padding faults.
#include "codec/guard_paged_buffer.h"
#include "codec/video_dec.h"
#include "tests/codec/support/engine_policy_encoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kStreamFrames = 4;  // a key frame and three predicted frames
constexpr size_t kLargestRawFrame = 40000;
constexpr int kMostDamages = 16;

enum class Mode : uint8_t { kRawFrames, kDamagedStream, kRawAfterKeyFrame, kCount };

class NullFrameSink : public ITavolinFrameSink {
public:
    void OnDecodedFrame(const uint8_t*, int) override {}
};

const std::vector<codec_test::CodedFrame>& RealStream() {
    static const std::vector<codec_test::CodedFrame> stream = [] {
        codec_test::EnginePolicyEncoder encoder;
        return encoder.EncodeMoving(0, kStreamFrames);
    }();
    return stream;
}

void DecodeGuarded(CVideoDec& decoder, const std::vector<uint8_t>& frame) {
    codec::GuardPagedBuffer input(frame.size() + CVideoDec::kInputPaddingBytes);
    if (!frame.empty()) std::memcpy(input.data(), frame.data(), frame.size());
    decoder.Decode(input.data(), static_cast<int>(frame.size()));
}

std::vector<uint8_t> Damaged(FuzzedDataProvider& data, std::vector<uint8_t> frame) {
    const int damages = data.ConsumeIntegralInRange(0, kMostDamages);
    for (int i = 0; i < damages && !frame.empty(); ++i) {
        const size_t at = data.ConsumeIntegralInRange<size_t>(0, frame.size() - 1);
        switch (data.ConsumeIntegralInRange(0, 2)) {
            case 0: frame[at] ^= data.ConsumeIntegral<uint8_t>(); break;
            case 1: frame.resize(at); break;
            default: frame.insert(frame.begin() + static_cast<ptrdiff_t>(at), data.ConsumeIntegral<uint8_t>()); break;
        }
    }
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static const bool initialised = (InitCodecLibrary(), RealStream(), true);
    (void)initialised;
    FuzzedDataProvider data(bytes, size);
    NullFrameSink sink;
    CVideoDec decoder;
    decoder.Open(kVideoWidth, kVideoHeight, &sink);
    if (!decoder.CreateDecoder()) return 0;

    switch (static_cast<Mode>(data.ConsumeIntegralInRange<uint8_t>(0, uint8_t(Mode::kCount) - 1))) {
        case Mode::kRawFrames:
            while (data.remaining_bytes() > 0)
                DecodeGuarded(decoder,
                              data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, kLargestRawFrame)));
            break;
        case Mode::kDamagedStream:
            for (const codec_test::CodedFrame& frame : RealStream()) DecodeGuarded(decoder, Damaged(data, frame.bytes));
            break;
        case Mode::kRawAfterKeyFrame:
            DecodeGuarded(decoder, RealStream()[0].bytes);
            DecodeGuarded(decoder, data.ConsumeRemainingBytes<uint8_t>());
            break;
        case Mode::kCount: break;
    }
    return 0;
}
