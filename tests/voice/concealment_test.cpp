// A tone through the whole receive side (jitter buffer, decoder, loss
// concealment) after a test-side filter that reorders, duplicates and drops
// frames, and the saturating mix and level meter.
#include "voice/codec/level_meter.h"
#include "voice/codec/remote_voice.h"
#include "voice/codec/voice_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numbers>
#include <random>

namespace {
using namespace voice;

constexpr double kToneHz = 1100;
constexpr double kAmplitude = 2065;  // -24 dBFS, as the synthetic microphones speak
constexpr int kFrames = 500;         // 15 s
constexpr int64_t kSettleMs = 3000;
constexpr size_t kDipWindow = kSampleRateHz / 100;  // 10 ms
// The largest step between neighbouring samples of the tone itself is
// A x 2 pi f / fs (892 here); a click is a step well beyond that.
constexpr int kClickStep = static_cast<int>(kAmplitude * 2 * std::numbers::pi * kToneHz / kSampleRateHz * 2);

std::array<uint8_t, kFrameBytes> EncodedTone(VoiceEncoder& encoder, int frame) {
    std::array<int16_t, kFrameSamples> pcm{};
    for (int i = 0; i < kFrameSamples; ++i)
        pcm[static_cast<size_t>(i)] = static_cast<int16_t>(
            kAmplitude * std::sin(2 * std::numbers::pi * kToneHz * (frame * kFrameSamples + i) / kSampleRateHz));
    std::array<uint8_t, kFrameBytes> bytes{};
    EXPECT_TRUE(encoder.Encode(pcm.data(), bytes.data()));
    return bytes;
}

// Every 10th frame dropped, every 7th overtaken by its successor, every 5th
// sent twice; up to 20 ms of random delay on top.
std::multimap<int64_t, std::array<uint8_t, kFrameBytes>> FilteredArrivals(VoiceEncoder& encoder) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> delay(0, 20);
    std::multimap<int64_t, std::array<uint8_t, kFrameBytes>> arrivals;
    for (int frame = 0; frame < kFrames; ++frame) {
        const auto bytes = EncodedTone(encoder, frame);
        if (frame % 10 == 9) continue;
        int64_t at = int64_t{frame} * kFrameMs + delay(random);
        if (frame % 7 == 3) at += kFrameMs + 5;  // arrives after the next one
        arrivals.emplace(at, bytes);
        if (frame % 5 == 1) arrivals.emplace(at + 3, bytes);
    }
    return arrivals;
}

TEST(Concealment, ReorderedDuplicatedAndDroppedFramesPlayWithoutGapsOrClicks) {
    VoiceEncoder encoder;
    RemoteVoice voice;
    ASSERT_TRUE(voice.Ready());
    auto arrivals = FilteredArrivals(encoder);
    std::vector<int16_t> heard;
    int quietAfterStart = 0;
    int longestConcealment = 0, concealmentRun = 0;
    uint64_t waitsBeforeSettling = 0;
    int64_t nextTick = 7;  // the playout clock runs at its own phase
    for (int64_t now = 0; now < int64_t{kFrames} * kFrameMs; ++now) {
        while (!arrivals.empty() && arrivals.begin()->first <= now) {
            const auto frame = ParseFrame(arrivals.begin()->second.data(), kFrameBytes);
            ASSERT_TRUE(frame);
            voice.Receive(*frame, now);
            arrivals.erase(arrivals.begin());
        }
        if (now != nextTick) continue;
        nextTick += kFrameMs;
        std::array<int16_t, kFrameSamples> pcm{};
        const uint64_t concealedBefore = voice.Counters().concealed;
        if (voice.Render(now, pcm.data()))
            heard.insert(heard.end(), pcm.begin(), pcm.end());
        else if (!heard.empty())
            ++quietAfterStart;
        concealmentRun = voice.Counters().concealed > concealedBefore ? concealmentRun + 1 : 0;
        if (now < kSettleMs)
            waitsBeforeSettling = voice.Counters().concealed - voice.Counters().lost;
        else
            longestConcealment = std::max(longestConcealment, concealmentRun);
    }
    const RemoteVoiceCounters& c = voice.Counters();
    EXPECT_EQ(0, quietAfterStart) << "the sound stopped";
    EXPECT_EQ(1, longestConcealment) << "more than one frame made up in a row once settled";
    EXPECT_EQ(static_cast<uint64_t>(kFrames / 10 - 1), c.lost);  // the last drop has no successor to reveal it
    EXPECT_EQ(static_cast<uint64_t>(kFrames / 5), c.duplicate);
    EXPECT_EQ(0u, c.late);
    // Waits for frames that were merely late happen only while the delay adapts.
    EXPECT_EQ(waitsBeforeSettling, c.concealed - c.lost);

    int largestStep = 0;
    for (size_t i = 1; i < heard.size(); ++i) largestStep = std::max(largestStep, std::abs(heard[i] - heard[i - 1]));
    EXPECT_LT(largestStep, kClickStep);
    // No gap: sound more than 6 dB below the tone lasts at most one concealed
    // frame plus the 20 ms over which Opus fades the next frame back in.
    int dipMs = 0, longestDipMs = 0;
    for (size_t at = kSettleMs * kSampleRateHz / 1000; at + kDipWindow <= heard.size(); at += kDipWindow) {
        double energy = 0;
        for (size_t i = 0; i < kDipWindow; ++i) energy += static_cast<double>(heard[at + i]) * heard[at + i];
        dipMs = std::sqrt(energy / kDipWindow) < kAmplitude / std::sqrt(2.0) / 2 ? dipMs + 10 : 0;
        longestDipMs = std::max(longestDipMs, dipMs);
    }
    EXPECT_LE(longestDipMs, kFrameMs + 20);
    std::printf("largest step %d (bound %d), longest dip %d ms, waits while settling %llu\n", largestStep, kClickStep,
                longestDipMs, static_cast<unsigned long long>(waitsBeforeSettling));
}

// A talker stops sending (a pause of voice activity, a released key) and
// later starts again: one wait is concealed, the next fades out, then
// silence; the sound comes back without a click.
TEST(Concealment, ATalkerWhoStopsFadesOutWithinTwoFramesAndComesBackWithoutAClick) {
    VoiceEncoder encoder;
    RemoteVoice voice;
    constexpr int kTalk = 40, kPause = 20;
    std::vector<int> soundAfterStop;
    std::vector<int16_t> fading, resumed;
    int64_t now = 0;
    for (int frame = 0; frame < 2 * kTalk + kPause; ++frame, now += kFrameMs) {
        const auto bytes = EncodedTone(encoder, frame);
        const bool paused = frame >= kTalk && frame < kTalk + kPause;
        if (!paused) voice.Receive(*ParseFrame(bytes.data(), kFrameBytes), now);
        std::array<int16_t, kFrameSamples> pcm{};
        const bool sound = voice.Render(now + 7, pcm.data());
        if (!paused) {
            if (frame == kTalk + kPause) resumed.assign(pcm.begin(), pcm.end());
            continue;
        }
        soundAfterStop.push_back(sound ? 1 : 0);
        if (frame == kTalk + 1) fading.assign(pcm.begin(), pcm.end());
    }
    EXPECT_EQ((std::vector<int>{1, 1}), std::vector<int>(soundAfterStop.begin(), soundAfterStop.begin() + 2));
    EXPECT_EQ(0, std::count(soundAfterStop.begin() + 2, soundAfterStop.end(), 1)) << "sound after the fade";
    ASSERT_EQ(static_cast<size_t>(kFrameSamples), fading.size());
    for (size_t i = fading.size() - kFrameSamples / 10; i < fading.size(); ++i)
        EXPECT_LT(std::abs(fading[i]), kAmplitude / 8) << "the fade ends near silence";
    ASSERT_EQ(static_cast<size_t>(kFrameSamples), resumed.size());
    EXPECT_EQ(0, resumed[0]);
    int largestStep = 0;
    for (size_t i = 1; i < resumed.size(); ++i)
        largestStep = std::max(largestStep, std::abs(resumed[i] - resumed[i - 1]));
    EXPECT_LT(largestStep, kClickStep);
}

TEST(Mixing, SaturatesInsteadOfWrappingAround) {
    const int32_t sums[] = {40000, -40000, 32767, -32768, 123};
    int16_t out[5];
    MixSaturating(sums, out, 5);
    EXPECT_EQ((std::vector<int16_t>{32767, -32768, 32767, -32768, 123}), std::vector<int16_t>(out, out + 5));
}

TEST(Level, MapsMinusSixtyToZeroDecibelsOfFullScaleOntoZeroToScale) {
    LevelMeter meter;
    EXPECT_EQ(0, meter.Level(9));
    std::array<int16_t, kFrameSamples> loud;
    loud.fill(32767);
    meter.Add(loud.data(), kFrameSamples);
    EXPECT_EQ(9, meter.Level(9));
    EXPECT_EQ(100, meter.Level(100));
    EXPECT_EQ(0, meter.Level(0));
    std::array<int16_t, kFrameSamples> quiet;
    quiet.fill(33);  // -60 dBFS
    for (int i = 0; i < kLevelFrames; ++i) meter.Add(quiet.data(), kFrameSamples);
    EXPECT_EQ(0, meter.Level(9));
    std::array<int16_t, kFrameSamples> middle;
    middle.fill(1036);  // -30 dBFS: half way
    meter.Add(middle.data(), kFrameSamples);
    EXPECT_EQ(5, meter.Level(10));
}

}  // namespace
