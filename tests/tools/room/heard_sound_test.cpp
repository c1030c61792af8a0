// A listener's sound analysed as it comes gives the very figures of the
// analysis of the whole recording, whatever the chunks, gaps and moments of
// analysis, while it keeps only the beginning whole.
#include "testbed/measurement/heard_sound.h"
#include "testbed/measurement/voice_analysis.h"

#include "testkit/signal/tone_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>
#include <vector>

namespace {
constexpr int kRate = 16000;
constexpr int kChunk = 480;
constexpr room::MarkedSpeaker kSpeakers[] = {{2, 1050, 62}, {3, 1950, 125}};
constexpr size_t kKept = 5 * kRate;

// Both speakers' tones, each 12 dB louder for 10 ms when its marker arrives
// (a latency of 80 to 108 ms, changing from marker to marker).
int16_t Heard(int64_t micros) {
    double value = 0;
    for (const room::MarkedSpeaker& speaker : kSpeakers) {
        const int64_t sinceMarker = (micros - speaker.markerOffsetMs * 1000) % 1000000;
        const int64_t latency = 80000 + 7000 * ((micros / 1000000) % 5);
        const bool marker = sinceMarker >= latency && sinceMarker < latency + 10000;
        value += (marker ? 4000 : 1000) * std::sin(2 * std::numbers::pi * speaker.toneHz * double(micros) / 1e6);
    }
    return static_cast<int16_t>(value);
}

TEST(HeardSound, AnalysedAsItComesItGivesTheFiguresOfTheWholeRecording) {
    // Starts just on, just after and well after a marker; chunks of 20 ms
    // with a few missing (silence), and the analysis at odd moments.
    for (const int64_t start : {int64_t{500'062'000}, int64_t{500'062'030}, int64_t{500'561'237}}) {
        room::HeardSound streamed({std::begin(kSpeakers), std::end(kSpeakers)}, kKept);
        voice::Recording whole;
        std::vector<int16_t> chunk(kChunk);
        for (int n = 0; n < 30 * kRate / kChunk; ++n) {
            const int64_t at = start + int64_t{n} * kChunk * 1000000 / kRate;
            if (n % 97 == 13) continue;
            for (int i = 0; i < kChunk; ++i) chunk[size_t(i)] = Heard(at + int64_t{i} * 1000000 / kRate);
            streamed.Append(chunk.data(), kChunk, at);
            voice::AppendToRecording(whole, chunk.data(), kChunk, at);
            if (n % 17 == 5) streamed.Analyse();
        }
        streamed.Finish();
        for (const room::MarkedSpeaker& speaker : kSpeakers) {
            const std::vector<int64_t> expected = voice::MarkerLatencies(whole, speaker.toneHz, speaker.markerOffsetMs);
            EXPECT_GE(expected.size(), 28u);
            EXPECT_EQ(expected, streamed.Latencies(speaker.userId)) << "start " << start;
        }
        EXPECT_EQ(static_cast<int64_t>(whole.samples.size()), streamed.TotalSamples());
        EXPECT_EQ(whole.startMicros, streamed.Beginning().startMicros);
        EXPECT_EQ(std::vector<int16_t>(whole.samples.begin(), whole.samples.begin() + kKept),
                  streamed.Beginning().samples);
    }
}

// Speakers who talk now and then: 2 talks at -27 dBFS for 0.3 s of every
// second, 3 at -39 dBFS in the first second only, 4 never (its neighbour 2
// is 100 Hz away); coding noise at -80 dBFS.
TEST(TalkFigures, CountTheWindowsEachSpeakersToneStoodOutInAndItsLevelThere) {
    const std::vector<room::MarkedSpeaker> speakers{{2, 1050, 0}, {3, 1950, 0}, {4, 1150, 0}};
    room::HeardSound heard(speakers, kKept);
    std::vector<int16_t> chunk(kChunk);
    const double amplitude = 32768 * std::sqrt(2.0) * std::pow(10.0, -27.0 / 20);
    uint32_t noise = 1;
    for (int n = 0; n < 5 * kRate / kChunk; ++n) {
        for (int i = 0; i < kChunk; ++i) {
            const int sample = n * kChunk + i;
            const bool two = sample % kRate < kRate * 3 / 10, three = sample < kRate;
            const double t = double(sample) / kRate;
            noise = noise * 1664525u + 1013904223u;
            chunk[size_t(i)] = static_cast<int16_t>(std::lround(
                (two ? amplitude * std::sin(2 * std::numbers::pi * 1050 * t) : 0) +
                (three ? amplitude / 4 * std::sin(2 * std::numbers::pi * 1950 * t) : 0) + double(noise >> 30) - 1.5));
        }
        heard.Append(chunk.data(), kChunk, 1000000 + int64_t{n} * kChunk * 1000000 / kRate);
    }
    heard.Finish();
    const std::map<int, room::TalkFigures> talk = room::FindTalk(heard, speakers);
    // Five windows of 60 ms in 0.3 s, and one at either end that holds part
    // of it, each second.
    EXPECT_GE(talk.at(2).windows, 25);
    EXPECT_LE(talk.at(2).windows, 35);
    EXPECT_NEAR(-27.0, talk.at(2).levelDbfs, 2.0);
    EXPECT_GE(talk.at(3).windows, 16);
    EXPECT_LE(talk.at(3).windows, 17);
    EXPECT_NEAR(-39.0, talk.at(3).levelDbfs, 1.0);
    EXPECT_EQ(0, talk.at(4).windows);
}
}  // namespace

// Speaker 4 joins 7 s into a 12 s call; speaker 3's tone, 100 Hz below, its
// markers and coding noise are there all along. Before 4 joined, the search
// finds 3's marker leaking into 4's band: that must not set 4's latency, nor
// move the windows its tone is judged in onto its next marker.
TEST(JudgeVoice, ASpeakerWhoJoinsLateIsJudgedFromTheSecondItIsFirstHeard) {
    const room::MarkedSpeaker three{3, 1150, 125}, four{4, 1250, 187};
    constexpr int64_t kStart = 700'000'000, kJoined = kStart + 7'000'000, kLatency = 60'000;
    room::HeardSound heard({three, four}, room::HeardSamplesJudged());
    std::vector<int16_t> chunk(kChunk);
    uint32_t noise = 1;
    for (int n = 0; n < 12 * kRate / kChunk; ++n) {
        const int64_t at = kStart + int64_t{n} * kChunk * 1000000 / kRate;
        for (int i = 0; i < kChunk; ++i) {
            const int64_t micros = at + int64_t{i} * 1000000 / kRate;
            noise = noise * 1664525 + 1013904223;
            double value = static_cast<int>(noise >> 26) - 32;  // coding noise, about -60 dBFS
            for (const room::MarkedSpeaker& speaker : {three, four}) {
                if (speaker.userId == 4 && micros < kJoined) continue;
                const int64_t sinceMarker = (micros - speaker.markerOffsetMs * 1000) % 1000000;
                const bool marker = sinceMarker >= kLatency && sinceMarker < kLatency + 10000;
                value +=
                    (marker ? 4000 : 1000) * std::sin(2 * std::numbers::pi * speaker.toneHz * double(micros) / 1e6);
            }
            chunk[size_t(i)] = static_cast<int16_t>(value);
        }
        heard.Append(chunk.data(), kChunk, at);
    }
    heard.Finish();
    const room::VoicePair pair = room::JudgeVoice(1, four, {three.toneHz}, heard, nullptr, {}, {});
    EXPECT_TRUE(pair.heard) << "SNR " << pair.toneSnrDb;
    ASSERT_TRUE(pair.latencyMedianMs);
    EXPECT_NEAR(*pair.latencyMedianMs, kLatency / 1000, 3);
}
