// CPU a player spends on voice in a room of 16, per 30 ms: coding its own
// frame (and judging it for voice activity) and receiving, buffering,
// decoding, levelling and mixing the frames of the 15 others, against the
// bare libopus calls for the same frames (three 10 ms encodes, fifteen 30 ms
// decodes).
#include "bench/ratio_reporter.h"

#include "voice/codec/level_meter.h"
#include "voice/codec/mix_channel.h"
#include "voice/codec/voice_encoder.h"
#include "voice/codec/voice_sender.h"

#include <opus/opus.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

namespace {
using namespace voice;

constexpr int kRemoteUsers = 15;
constexpr int kSpeechFrames = 100;  // 3 s of material, cycled

// Speech-like material: a voiced tone in bursts.
const std::vector<std::array<int16_t, kFrameSamples>>& Material() {
    static const auto frames = [] {
        std::vector<std::array<int16_t, kFrameSamples>> out(kSpeechFrames);
        for (int f = 0; f < kSpeechFrames; ++f)
            for (int i = 0; i < kFrameSamples; ++i) {
                const double t = (f * kFrameSamples + i) / double{kSampleRateHz};
                const double voiced =
                    std::sin(2 * std::numbers::pi * 180 * t) + 0.5 * std::sin(2 * std::numbers::pi * 360 * t);
                out[static_cast<size_t>(f)][static_cast<size_t>(i)] =
                    static_cast<int16_t>(f % 10 < 7 ? 4000 * voiced : 0);
            }
        return out;
    }();
    return frames;
}

// The frames the other players send, coded once.
const std::vector<std::array<uint8_t, kFrameBytes>>& Frames() {
    static const auto frames = [] {
        VoiceEncoder encoder;
        std::vector<std::array<uint8_t, kFrameBytes>> out(kSpeechFrames);
        for (int f = 0; f < kSpeechFrames; ++f)
            encoder.Encode(Material()[static_cast<size_t>(f)].data(), out[static_cast<size_t>(f)].data());
        return out;
    }();
    return frames;
}

void BM_VoicePerPlayer(benchmark::State& state) {
    VoiceSender sender;
    std::vector<std::unique_ptr<MixChannel>> others;
    for (int u = 0; u < kRemoteUsers; ++u) others.push_back(std::make_unique<MixChannel>());
    std::array<int16_t, kFrameSamples> mix{};
    std::array<int32_t, kFrameSamples> sum{};
    int n = 0;
    for (auto _ : state) {
        const auto& pcm = Material()[static_cast<size_t>(n % kSpeechFrames)];
        sender.Frame(pcm.data(), SenderControls{}, [](const uint8_t* frame) { benchmark::DoNotOptimize(frame[0]); });
        const int64_t now = int64_t{n} * kFrameMs;
        sum.fill(0);
        for (auto& other : others) {
            other->Voice().Receive(*ParseFrame(Frames()[static_cast<size_t>(n % kSpeechFrames)].data(), kFrameBytes),
                                   now);
            other->MixInto(now, ListenerChoice{}, true, sum.data());
        }
        MixSaturating(sum.data(), mix.data(), kFrameSamples);
        benchmark::DoNotOptimize(mix);
        ++n;
    }
}
BENCHMARK(BM_VoicePerPlayer);

void BM_BareOpus(benchmark::State& state) {
    int error = 0;
    OpusEncoder* encoder = opus_encoder_create(kSampleRateHz, 1, OPUS_APPLICATION_VOIP, &error);
    // The component's settings, so that only its own work makes a difference.
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(kBitRate));
    opus_encoder_ctl(encoder, OPUS_SET_VBR(0));
    opus_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    opus_encoder_ctl(encoder, OPUS_SET_BANDWIDTH(OPUS_BANDWIDTH_WIDEBAND));
    opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(kExpectedLossPercent));
    std::vector<OpusDecoder*> decoders;
    for (int u = 0; u < kRemoteUsers; ++u) decoders.push_back(opus_decoder_create(kSampleRateHz, 1, &error));
    unsigned char packet[kSubframeBytes];
    std::array<int16_t, kFrameSamples> voice{};
    int n = 0;
    for (auto _ : state) {
        const auto& pcm = Material()[static_cast<size_t>(n % kSpeechFrames)];
        for (int i = 0; i < 3; ++i)
            benchmark::DoNotOptimize(opus_encode(encoder, pcm.data() + i * kOpusSubframeSamples, kOpusSubframeSamples,
                                                 packet, kSubframeBytes));
        const uint8_t* received = Frames()[static_cast<size_t>(n % kSpeechFrames)].data() + kSequenceBytes;
        for (OpusDecoder* decoder : decoders)
            benchmark::DoNotOptimize(opus_decode(decoder, received, kOpusPacketBytes, voice.data(), kFrameSamples, 0));
        ++n;
    }
    for (OpusDecoder* decoder : decoders) opus_decoder_destroy(decoder);
    opus_encoder_destroy(encoder);
}
BENCHMARK(BM_BareOpus);

}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.Seconds("BM_VoicePerPlayer"), bare = reporter.Seconds("BM_BareOpus");
    if (ours > 0 && bare > 0)
        std::printf(
            "\nVoice CPU per player in a room of 16, relative to bare libopus: %.3f "
            "(BM_VoicePerPlayer / BM_BareOpus)\n",
            ours / bare);
    benchmark::Shutdown();
    return 0;
}
