// Arbitrary sequences of received video packets through one user's frame
// assembler and decoder: every packet must come back exactly once, and
// nothing may read or write out of bounds.
//
// Speed: the assembler and decoder live for the whole run (an input ends
// with ReleaseAll, which leaves the assembler as new), and each packet costs
// one allocation of exactly its payload's size, so reads past a payload
// still fault.
#include "codec/frame_assembler.h"
#include "codec/video_dec.h"
#include "codec/video_enc.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Timestamps that collide, straddle the wrap and sit at its thresholds.
constexpr uint32_t kTimestamps[] = {0,      1000,   2000,        3000,        5000,        99999,
                                    100000, 200000, 2000000000u, 2000000001u, 4294960000u, 4294967295u};
constexpr size_t kLargestFragmentData = 2048;
constexpr size_t kLargestPlainData = 64;
constexpr uint8_t kLikelyFragmentCount = 34;  // just past what the assembler collects

enum class Step : uint8_t { kPacket, kBulkyPacket, kReleaseAll, kToggleDecoder, kCount };

void Check(bool condition) {
    if (!condition) std::abort();
}

class NullFrameSink : public ITavolinFrameSink {
public:
    void OnDecodedFrame(const uint8_t*, int) override {}
};

// The packets of one input: payloads of exact size, tokens that are their
// numbers plus one, and how often each came back.
class PacketStore : public IFragmentReleaser {
public:
    ReceivedFragment Make(FuzzedDataProvider& data, uint32_t timestamp, bool bulky) {
        // [count][index] with small values most of the time, then the data.
        uint8_t header[2];
        const size_t headerBytes = data.ConsumeIntegralInRange<size_t>(0, sizeof header);
        for (size_t i = 0; i < headerBytes; ++i)
            header[i] = data.ConsumeBool() ? data.ConsumeIntegralInRange<uint8_t>(0, kLikelyFragmentCount)
                                           : data.ConsumeIntegral<uint8_t>();
        const size_t dataBytes =
            data.ConsumeIntegralInRange<size_t>(0, bulky ? kLargestFragmentData : kLargestPlainData);
        auto& payload = payloads_.emplace_back(std::make_unique<uint8_t[]>(headerBytes + dataBytes));
        std::memcpy(payload.get(), header, headerBytes);
        if (bulky) {
            std::memset(payload.get() + headerBytes, data.ConsumeIntegral<uint8_t>(), dataBytes);
        } else {
            const size_t taken = data.ConsumeData(payload.get() + headerBytes, dataBytes);
            std::memset(payload.get() + headerBytes + taken, 0, dataBytes - taken);
        }
        releases_.push_back(0);
        ++outstanding_;
        return ReceivedFragment{payload.get(), headerBytes + dataBytes, timestamp, TokenOf(payloads_.size() - 1)};
    }

    void ReleaseFragment(void* token) override {
        const size_t index = reinterpret_cast<uintptr_t>(token) - 1;
        if (index >= releases_.size() || releases_[index]++ != 0) {
            ++faults_;
            return;
        }
        payloads_[index].reset();  // a later read of it faults
        --outstanding_;
    }

    int Faults() const { return faults_; }
    bool AllReleasedOnce() const { return faults_ == 0 && outstanding_ == 0; }
    // Forgets the input's packets, keeping the lists' room for the next one.
    void Reset() {
        payloads_.clear();
        releases_.clear();
        outstanding_ = 0;
        faults_ = 0;
    }

private:
    static void* TokenOf(size_t index) { return reinterpret_cast<void*>(static_cast<uintptr_t>(index) + 1); }

    std::vector<std::unique_ptr<uint8_t[]>> payloads_;
    std::vector<uint8_t> releases_;
    size_t outstanding_ = 0;
    int faults_ = 0;
};

uint32_t PickTimestamp(FuzzedDataProvider& data) {
    if (data.ConsumeBool()) return data.PickValueInArray(kTimestamps);
    return data.ConsumeIntegral<uint32_t>();
}

// Creating a decoder costs more than a whole input, and what it decodes has
// no bearing on who owns which packet.
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
    static CVideoFrameAssembler assembler;
    static PacketStore store;
    FuzzedDataProvider data(bytes, size);
    CVideoDec& decoder = SharedDecoder();
    store.Reset();
    assembler.SetDecoder(&decoder);
    assembler.SetReleaser(&store);
    bool decoding = true;
    while (data.remaining_bytes() > 0) {
        const auto step = static_cast<Step>(data.ConsumeIntegralInRange<uint8_t>(0, uint8_t(Step::kCount) - 1));
        switch (step) {
            case Step::kPacket:
            case Step::kBulkyPacket: {
                const uint32_t timestamp = PickTimestamp(data);
                assembler.AddPacket(store.Make(data, timestamp, step == Step::kBulkyPacket));
                break;
            }
            case Step::kReleaseAll:
                assembler.ReleaseAll();
                Check(store.AllReleasedOnce());
                break;
            case Step::kToggleDecoder:
                decoding = !decoding;
                assembler.SetDecoder(decoding ? &decoder : nullptr);
                break;
            case Step::kCount: break;
        }
        Check(store.Faults() == 0);
    }
    assembler.ReleaseAll();
    Check(store.AllReleasedOnce());
    return 0;
}
