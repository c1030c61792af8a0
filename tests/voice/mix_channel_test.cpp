// The listener's side on a fake clock: remote players' tones coded, received
// and mixed through their channels, with the listener's volume and mute and
// the levelling, then measured in the mix.
#include "testkit/signal/tone_analysis.h"
#include "voice/codec/mix_channel.h"
#include "voice/codec/voice_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <numbers>
#include <vector>

namespace {
using namespace voice;

constexpr int kSeconds = 6;
// Figures are read over the last second, 5 s after the players started.
constexpr size_t kSettledFrom = 5 * kSampleRateHz;
constexpr size_t kSettledLength = kSampleRateHz;

struct Player {
    Player(double hz, double rmsDbfs)
        : frequencyHz(hz), amplitude(32768 * std::sqrt(2.0) * std::pow(10.0, rmsDbfs / 20)) {}
    double frequencyHz;
    double amplitude;
    ListenerChoice choice;
    VoiceEncoder encoder;
    MixChannel channel;
};

struct Mix {
    std::vector<int16_t> heard;  // as the speaker plays it
    size_t clipped = 0;          // samples whose sum went beyond 16 bits
};

// Every player's tone, coded and arriving on time, mixed tick by tick.
Mix MixPlayers(std::deque<Player>& players, bool levelling) {
    Mix mix;
    for (int frame = 0; frame < kSeconds * 1000 / kFrameMs; ++frame) {
        const int64_t nowMs = int64_t{frame} * kFrameMs;
        for (Player& p : players) {
            std::array<int16_t, kFrameSamples> pcm;
            for (int i = 0; i < kFrameSamples; ++i)
                pcm[static_cast<size_t>(i)] = static_cast<int16_t>(
                    std::lround(p.amplitude * std::sin(2 * std::numbers::pi * p.frequencyHz *
                                                       (frame * kFrameSamples + i) / kSampleRateHz)));
            std::array<uint8_t, kFrameBytes> bytes;
            EXPECT_TRUE(p.encoder.Encode(pcm.data(), bytes.data()));
            p.channel.Voice().Receive(*ParseFrame(bytes.data(), kFrameBytes), nowMs);
        }
        std::array<int32_t, kFrameSamples> sum{};
        for (Player& p : players) p.channel.MixInto(nowMs + 1, p.choice, levelling, sum.data());
        std::array<int16_t, kFrameSamples> out;
        MixSaturating(sum.data(), out.data(), kFrameSamples);
        for (const int32_t s : sum)
            if (s > std::numeric_limits<int16_t>::max() || s < std::numeric_limits<int16_t>::min()) ++mix.clipped;
        mix.heard.insert(mix.heard.end(), out.begin(), out.end());
    }
    return mix;
}

double LevelIn(const Mix& mix, const Player& p) {
    return ToneLevelDb(mix.heard, kSettledFrom, kSettledLength, p.frequencyHz);
}

TEST(ListenerChoice, HalfVolumeIsSixDecibelsDownAMutedPlayerIsAbsentAndTheOthersAreUnchanged) {
    const double hz[] = {850, 1950, 3050};
    std::deque<Player> reference, chosen;
    for (const double f : hz) reference.emplace_back(f, -27), chosen.emplace_back(f, -27);
    chosen[1].choice.volumePercent = 50;
    chosen[2].choice.muted = true;
    const Mix before = MixPlayers(reference, true);
    const Mix after = MixPlayers(chosen, true);
    const double unchanged = LevelIn(after, chosen[0]) - LevelIn(before, reference[0]);
    const double halved = LevelIn(after, chosen[1]) - LevelIn(before, reference[1]);
    const double muted = LevelIn(after, chosen[2]) - LevelIn(before, reference[2]);
    std::printf("at 100 %%: %+.2f dB; at 50 %%: %+.2f dB; muted: %+.1f dB\n", unchanged, halved, muted);
    EXPECT_NEAR(0.0, unchanged, 0.5);
    EXPECT_NEAR(20 * std::log10(0.5), halved, 0.5);
    EXPECT_LT(muted, -40.0);
    // Nothing of the muted player was decoded, and its level reads silent.
    EXPECT_EQ(0u, chosen[2].channel.FramesHeard());
    EXPECT_GE(chosen[2].channel.Voice().Counters().notDecoded, static_cast<uint64_t>(kSeconds * 1000 / kFrameMs - 2));
    EXPECT_EQ(0, chosen[2].channel.Heard().Level(9));
    EXPECT_GT(chosen[1].channel.Heard().Level(9), 0);
}

TEST(Levelling, BringsAQuietAndALoudPlayerWithinThreeDecibelsAndKeepsFifteenLoudOnesFromClipping) {
    std::deque<Player> pair;
    pair.emplace_back(850, -30);
    pair.emplace_back(1950, -10);
    const Mix levelled = MixPlayers(pair, true);
    const double apart = LevelIn(levelled, pair[1]) - LevelIn(levelled, pair[0]);
    const double quietGain = pair[0].channel.LevellingGainDb(), loudGain = pair[1].channel.LevellingGainDb();
    std::deque<Player> unlevelledPair;
    unlevelledPair.emplace_back(850, -30);
    unlevelledPair.emplace_back(1950, -10);
    const Mix asTheyCame = MixPlayers(unlevelledPair, false);
    const double apartUnlevelled = LevelIn(asTheyCame, unlevelledPair[1]) - LevelIn(asTheyCame, unlevelledPair[0]);

    // Each of them alone comes near full scale: their sum clips unless cut.
    std::deque<Player> loud;
    for (int i = 0; i < 15; ++i) loud.emplace_back(kDistinctToneFrequenciesHz[i], -10);
    const Mix fifteen = MixPlayers(loud, true);
    std::printf(
        "-30 and -10 dBFS players %.1f dB apart after 5 s (gains %+.1f / %+.1f dB; %.1f dB unlevelled); "
        "15 players at -10 dBFS: %zu samples clipped in %d s\n",
        apart, quietGain, loudGain, apartUnlevelled, fifteen.clipped, kSeconds);
    EXPECT_LE(std::abs(apart), 3.0);
    EXPECT_NEAR(20.0, apartUnlevelled, 1.0);
    EXPECT_LE(quietGain, kMaxBoostDb);
    EXPECT_EQ(0u, fifteen.clipped);
}

}  // namespace
