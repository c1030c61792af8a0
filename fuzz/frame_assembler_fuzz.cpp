// Arbitrary sequences of received video packets through one user's frame
// assembler and decoder: every packet must come back exactly once, and
// nothing may read or write out of bounds.
#include "codec/frame_assembler.h"
#include "codec/video_dec.h"
#include "codec/video_enc.h"
#include "tests/codec/support/counting_packet_releaser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {

// Timestamps that collide, straddle the wrap and sit at its thresholds.
constexpr uint32_t kTimestamps[] = {0,      1000,   2000,        3000,        5000,       99999,
                                    100000, 200000, 2000000000u, 2000000001u, 4294960000u, 4294967295u};
constexpr size_t kLargestFragmentData = 2048;

enum class Step : uint8_t { kPacket, kBulkyPacket, kReleaseAll, kToggleDecoder, kCount };

class NullFrameSink : public ITavolinFrameSink {
public:
    void OnDecodedFrame(const uint8_t*, int) override {}
};

uint32_t PickTimestamp(FuzzedDataProvider& data) {
    if (data.ConsumeBool()) return data.PickValueInArray(kTimestamps);
    return data.ConsumeIntegral<uint32_t>();
}

// [count][index] with small values most of the time, then the data.
std::vector<uint8_t> FragmentPayload(FuzzedDataProvider& data, bool bulky) {
    std::vector<uint8_t> payload;
    const size_t headerBytes = data.ConsumeIntegralInRange<size_t>(0, 2);
    for (size_t i = 0; i < headerBytes; ++i)
        payload.push_back(data.ConsumeBool() ? data.ConsumeIntegralInRange<uint8_t>(0, 34) : data.ConsumeIntegral<uint8_t>());
    if (bulky) {
        payload.resize(payload.size() + data.ConsumeIntegralInRange<size_t>(0, kLargestFragmentData),
                       data.ConsumeIntegral<uint8_t>());
    } else {
        const std::vector<uint8_t> bytes = data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, 64));
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    return payload;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// One decoder for the whole run: creating one costs more than a whole input,
// and what it decodes has no bearing on who owns which packet.
CVideoDec& SharedDecoder() {
    static NullFrameSink sink;
    static CVideoDec decoder;
    static const bool created = [] {
        decoder.Open(kVideoWidth, kVideoHeight, &sink);
        InitCodecLibrary();
        return decoder.CreateDecoder();
    }();
    (void)created;
    return decoder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    CVideoDec& decoder = SharedDecoder();
    codec_test::CountingPacketReleaser releaser;
    {
        CVideoFrameAssembler assembler;
        assembler.SetDecoder(&decoder);
        assembler.SetReleaser(&releaser);
        bool decoding = true;
        while (data.remaining_bytes() > 0) {
            const auto step = static_cast<Step>(data.ConsumeIntegralInRange<uint8_t>(0, uint8_t(Step::kCount) - 1));
            switch (step) {
                case Step::kPacket:
                case Step::kBulkyPacket: {
                    const uint32_t timestamp = PickTimestamp(data);
                    assembler.AddPacket(releaser.Make(timestamp, FragmentPayload(data, step == Step::kBulkyPacket)));
                    break;
                }
                case Step::kReleaseAll:
                    assembler.ReleaseAll();
                    Check(releaser.AllReleasedOnce());
                    break;
                case Step::kToggleDecoder:
                    decoding = !decoding;
                    assembler.SetDecoder(decoding ? &decoder : nullptr);
                    break;
                case Step::kCount:
                    break;
            }
            Check(releaser.Faults() == 0);
        }
    }
    Check(releaser.AllReleasedOnce());
    return 0;
}
