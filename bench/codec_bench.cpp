// Cost per frame of the codec classes against the bare library calls they
// wrap, measured in the same run: encode, decode, and the whole path from a
// picture through fragments and reassembly to a decoded picture.
#include "bench/bare_video_codec.h"
#include "bench/moving_scene.h"
#include "bench/ratio_reporter.h"
#include "codec/codec_library.h"
#include "codec/frame_assembler.h"
#include "codec/video_dec.h"
#include "codec/video_enc.h"
#include "codec/video_fragments.h"
#include "tests/codec/support/engine_policy_encoder.h"
#include "tests/codec/support/synthetic_video.h"
#include "tests/codec/support/video_fragments.h"

#include <benchmark/benchmark.h>
#include <xvid.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {
using bench::BareDecoder;
using bench::BareEncoder;

using bench::kKeyFrameEvery;
using bench::kSceneFrames;
using bench::Scene;

const std::vector<codec_test::CodedFrame>& CodedScene() {
    static const std::vector<codec_test::CodedFrame> coded = [] {
        codec_test::EnginePolicyEncoder encoder;
        return encoder.EncodeMoving(0, kSceneFrames);
    }();
    return coded;
}

// Coded frames with the decoder's read-ahead padding after each.
std::vector<std::vector<uint8_t>> PaddedScene() {
    std::vector<std::vector<uint8_t>> frames;
    for (const codec_test::CodedFrame& frame : CodedScene()) {
        frames.push_back(frame.bytes);
        frames.back().resize(frame.bytes.size() + CVideoDec::kInputPaddingBytes);
    }
    return frames;
}

struct DiscardingVideoSink : ITavolinVideoSink {
    void OnEncodedVideo(const uint8_t*, int, int length) override { benchmark::DoNotOptimize(length); }
};
struct DiscardingFrameSink : ITavolinFrameSink {
    void OnDecodedFrame(const uint8_t* picture, int) override { benchmark::DoNotOptimize(picture); }
};

// ---- encode ----

void BM_BareEncode(benchmark::State& state) {
    InitCodecLibrary();
    BareEncoder encoder;
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encoder.Encode(Scene()[n % kSceneFrames].data(), n % kKeyFrameEvery == 0));
        ++n;
    }
}
BENCHMARK(BM_BareEncode);

void BM_VideoEncEncode(benchmark::State& state) {
    DiscardingVideoSink sink;
    CVideoEnc encoder;
    encoder.Open(kVideoWidth, kVideoHeight, &sink);
    InitCodecLibrary();
    encoder.CreateEncoder();
    int n = 0;
    for (auto _ : state) {
        encoder.Encode(Scene()[n % kSceneFrames].data(), n % kKeyFrameEvery == 0);
        ++n;
    }
    encoder.Close();
}
BENCHMARK(BM_VideoEncEncode);

// ---- decode ----

void BM_BareDecode(benchmark::State& state) {
    const std::vector<std::vector<uint8_t>> frames = PaddedScene();
    InitCodecLibrary();
    BareDecoder decoder;
    int n = 0;
    for (auto _ : state) {
        const codec_test::CodedFrame& frame = CodedScene()[n % kSceneFrames];
        benchmark::DoNotOptimize(decoder.Decode(frames[n % kSceneFrames].data(), static_cast<int>(frame.bytes.size())));
        ++n;
    }
}
BENCHMARK(BM_BareDecode);

void BM_VideoDecDecode(benchmark::State& state) {
    const std::vector<std::vector<uint8_t>> frames = PaddedScene();
    DiscardingFrameSink sink;
    CVideoDec decoder;
    decoder.Open(kVideoWidth, kVideoHeight, &sink);
    InitCodecLibrary();
    decoder.CreateDecoder();
    int n = 0;
    for (auto _ : state) {
        const codec_test::CodedFrame& frame = CodedScene()[n % kSceneFrames];
        decoder.Decode(frames[n % kSceneFrames].data(), static_cast<int>(frame.bytes.size()));
        ++n;
    }
}
BENCHMARK(BM_VideoDecDecode);

// ---- the whole path ----

void BM_BarePath(benchmark::State& state) {
    InitCodecLibrary();
    BareEncoder encoder;
    BareDecoder decoder;
    int n = 0;
    for (auto _ : state) {
        const int length = encoder.Encode(Scene()[n % kSceneFrames].data(), n % kKeyFrameEvery == 0);
        benchmark::DoNotOptimize(decoder.Decode(encoder.Bitstream(), length));
        ++n;
    }
}
BENCHMARK(BM_BarePath);

// Sends each coded frame the way the engine does and receives it into
// reused packet buffers, as the receiving session's pool would.
class LoopbackVideoPath : public ITavolinVideoSink, public IFragmentReleaser {
public:
    explicit LoopbackVideoPath(CVideoFrameAssembler& assembler) : assembler_(assembler) {}

    void OnEncodedVideo(const uint8_t* data, int, int length) override {
        timestamp_ += codec_test::kTimestampPerFrame;
        const auto frameBytes = static_cast<size_t>(length);
        const int count = video_fragments::FragmentCount(frameBytes);
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t>* packet = TakePacket();
            packet->resize(video_fragments::kMaxFragmentBytes);
            packet->resize(video_fragments::CutFragment(data, frameBytes, count, i, packet->data()));
            assembler_.AddPacket(ReceivedFragment{packet->data(), packet->size(), timestamp_, packet});
        }
    }
    void ReleaseFragment(void* token) override { free_.push_back(static_cast<std::vector<uint8_t>*>(token)); }

private:
    std::vector<uint8_t>* TakePacket() {
        if (free_.empty()) {
            owned_.push_back(std::make_unique<std::vector<uint8_t>>());
            return owned_.back().get();
        }
        std::vector<uint8_t>* packet = free_.back();
        free_.pop_back();
        return packet;
    }

    CVideoFrameAssembler& assembler_;
    uint32_t timestamp_ = 0;
    std::vector<std::unique_ptr<std::vector<uint8_t>>> owned_;
    std::vector<std::vector<uint8_t>*> free_;
};

void BM_WholePath(benchmark::State& state) {
    DiscardingFrameSink pictures;
    CVideoDec decoder;
    decoder.Open(kVideoWidth, kVideoHeight, &pictures);
    CVideoFrameAssembler assembler;
    LoopbackVideoPath path(assembler);
    assembler.SetDecoder(&decoder);
    assembler.SetReleaser(&path);
    CVideoEnc encoder;
    encoder.Open(kVideoWidth, kVideoHeight, &path);
    InitCodecLibrary();
    encoder.CreateEncoder();
    InitCodecLibrary();
    decoder.CreateDecoder();
    int n = 0;
    for (auto _ : state) {
        encoder.Encode(Scene()[n % kSceneFrames].data(), n % kKeyFrameEvery == 0);
        ++n;
    }
    encoder.Close();
}
BENCHMARK(BM_WholePath);

void PrintRatio(const bench::RatioReporter& reporter, const char* what, const std::string& ours,
                const std::string& bare) {
    const double oursSeconds = reporter.Seconds(ours), bareSeconds = reporter.Seconds(bare);
    if (oursSeconds > 0 && bareSeconds > 0)
        std::printf("%-36s %.3f (%s / %s)\n", what, oursSeconds / bareSeconds, ours.c_str(), bare.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nCPU cost per frame relative to the bare library calls:\n");
    PrintRatio(reporter, "encode", "BM_VideoEncEncode", "BM_BareEncode");
    PrintRatio(reporter, "decode", "BM_VideoDecDecode", "BM_BareDecode");
    PrintRatio(reporter, "encode, fragment, reassemble, decode", "BM_WholePath", "BM_BarePath");
    benchmark::Shutdown();
    return 0;
}
