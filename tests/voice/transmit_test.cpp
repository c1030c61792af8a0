// Transmit modes on a fake clock: a synthetic microphone's frames through
// the sender and straight into a listener's voice, which plays one frame per
// tick. Frame i of the signal is complete at (i + 1) x 30 ms, when the
// sender reads the controls for it.
#include "testkit/audio/synthetic_audio.h"
#include "testkit/signal/signal_generator.h"
#include "voice/codec/remote_voice.h"
#include "voice/codec/voice_sender.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {
using namespace voice;

constexpr int kHoldMs = kVoiceActivityHoldFrames * kFrameMs;
constexpr int kPushToTalkHoldMs = kPushToTalkHoldFrames * kFrameMs;

struct Sent {
    int64_t atMs;  // when the frame went out
    uint16_t sequence;
};

struct Transmission {
    std::vector<Sent> sent;
    std::vector<int16_t> heard;  // the listener's output, 30 ms per tick
    uint64_t frames = 0, suppressed = 0, muted = 0;
};

std::vector<int16_t> Signal(int signal, int seconds) {
    std::vector<int16_t> samples(static_cast<size_t>(seconds * kSampleRateHz));
    SignalGenerator(signal, 850, -1).Generate(samples.data(), static_cast<int>(samples.size()), 0);
    return samples;
}

Transmission Transmit(const std::vector<int16_t>& signal,
                      const std::function<SenderControls(int64_t nowMs)>& controls) {
    VoiceSender sender;
    RemoteVoice listener;
    Transmission run;
    for (size_t at = 0; at + kFrameSamples <= signal.size(); at += kFrameSamples) {
        const int64_t nowMs = static_cast<int64_t>(at / kFrameSamples + 1) * kFrameMs;
        sender.Frame(signal.data() + at, controls(nowMs), [&](const uint8_t* bytes) {
            const auto frame = ParseFrame(bytes, kFrameBytes);
            ASSERT_TRUE(frame);
            run.sent.push_back({nowMs, frame->sequence});
            listener.Receive(*frame, nowMs);
        });
        ++run.frames;
        std::array<int16_t, kFrameSamples> pcm{};
        listener.Render(nowMs + 1, pcm.data());
        run.heard.insert(run.heard.end(), pcm.begin(), pcm.end());
    }
    const SenderCounters& c = sender.Counters();
    EXPECT_EQ(run.sent.size(), c.sent);
    run.suppressed = c.suppressed;
    run.muted = c.muted;
    return run;
}

struct Press {
    int64_t downMs, upMs;
};

TEST(PushToTalk, SendsFromTheFrameAfterThePressUntilTheHoldAfterTheReleaseAndNothingWhileMuted) {
    // Presses at odd phases of the frame clock, one of them a short tap, and
    // one press entirely while the microphone is muted.
    const std::vector<Press> presses{{1007, 2519}, {4029, 4100}, {6001, 8990}};
    const Press mutedPress{10013, 11000};
    const auto keyDown = [&](int64_t nowMs) {
        for (const Press& p : presses)
            if (nowMs >= p.downMs && nowMs < p.upMs) return true;
        return nowMs >= mutedPress.downMs && nowMs < mutedPress.upMs;
    };
    const Transmission run = Transmit(Signal(TAVOLIN_MIC_SPEECH, 12), [&](int64_t nowMs) {
        return SenderControls{TransmitMode::kPushToTalk, keyDown(nowMs), nowMs >= mutedPress.downMs};
    });
    for (const Press& p : presses) {
        std::vector<Sent> during;
        for (const Sent& s : run.sent)
            if (s.atMs > p.downMs - kFrameMs && s.atMs <= p.upMs + kPushToTalkHoldMs + kFrameMs) during.push_back(s);
        ASSERT_FALSE(during.empty()) << "press at " << p.downMs;
        EXPECT_GT(during.front().atMs, p.downMs);
        EXPECT_LE(during.front().atMs, p.downMs + kFrameMs) << "first frame of the press at " << p.downMs;
        EXPECT_GE(during.back().atMs, p.upMs + kPushToTalkHoldMs - kFrameMs);
        EXPECT_LE(during.back().atMs, p.upMs + kPushToTalkHoldMs + kFrameMs) << "last of the press at " << p.downMs;
        // One frame for every 30 ms in between, nothing from before the press.
        for (size_t i = 1; i < during.size(); ++i) {
            EXPECT_EQ(during[i - 1].atMs + kFrameMs, during[i].atMs);
            EXPECT_EQ(static_cast<uint16_t>(during[i - 1].sequence + 1), during[i].sequence);
        }
    }
    // Every frame sent belongs to one of the presses above.
    size_t belonging = 0;
    for (const Sent& s : run.sent)
        for (const Press& p : presses)
            if (s.atMs > p.downMs && s.atMs <= p.upMs + kPushToTalkHoldMs + kFrameMs) ++belonging;
    EXPECT_EQ(run.sent.size(), belonging) << "a frame went out while the key was up or the microphone muted";
    EXPECT_EQ(run.frames, run.sent.size() + run.suppressed + run.muted);
    EXPECT_EQ(run.frames - static_cast<uint64_t>(mutedPress.downMs / kFrameMs), run.muted);
}

// Where each turn of a conversation starts: the first sound after at least
// a second of silence, in samples.
std::vector<size_t> TurnStarts(const std::vector<int16_t>& signal) {
    std::vector<size_t> starts;
    size_t silent = 0;
    for (size_t i = 0; i < signal.size(); ++i) {
        if (signal[i] != 0 && silent >= static_cast<size_t>(kSampleRateHz)) starts.push_back(i);
        silent = signal[i] == 0 ? silent + 1 : 0;
    }
    return starts;
}

// Where a turn's first syllable begins in what the listener heard: the
// first sample louder than -50 dBFS within 300 ms of `from`.
size_t OnsetIn(const std::vector<int16_t>& heard, size_t from) {
    for (size_t i = from; i < from + kSampleRateHz * 300 / 1000 && i < heard.size(); ++i)
        if (std::abs(heard[i]) > 100) return i;
    return heard.size();
}

double EnergyDb(const std::vector<int16_t>& x, size_t from, size_t count) {
    double energy = 1e-9;
    for (size_t i = from; i < from + count && i < x.size(); ++i) energy += static_cast<double>(x[i]) * x[i];
    return 10 * std::log10(energy);
}

TEST(VoiceActivity, SendsTurnsOfSpeechInBurstsThatEndWithinTheHoldAndKeepEachFirstSyllable) {
    const std::vector<int16_t> signal = Signal(TAVOLIN_MIC_CONVERSATION, 60);
    const Transmission always = Transmit(signal, [](int64_t) { return SenderControls{}; });
    const Transmission activity =
        Transmit(signal, [](int64_t) { return SenderControls{TransmitMode::kVoiceActivity}; });

    // Which frames of the signal went out: the last one sent at a time is
    // the frame just complete, any before it are pre-roll.
    std::vector<bool> sent(activity.frames, false);
    for (size_t i = 0; i < activity.sent.size(); ++i) {
        size_t last = i;
        while (last + 1 < activity.sent.size() && activity.sent[last + 1].atMs == activity.sent[i].atMs) ++last;
        const size_t index = static_cast<size_t>(activity.sent[i].atMs / kFrameMs - 1) -
                             static_cast<uint16_t>(activity.sent[last].sequence - activity.sent[i].sequence);
        sent[index] = true;
    }
    // Every frame with speech in it goes out, and besides them only the
    // hold after speech and the pre-roll before it.
    std::vector<bool> speech(sent.size(), false);
    for (size_t i = 0; i < sent.size() * kFrameSamples; ++i)
        if (std::abs(signal[i]) > 20) speech[i / kFrameSamples] = true;
    size_t bursts = 0, speechFrames = 0;
    std::optional<size_t> lastSpeech;
    for (size_t frame = 0; frame < sent.size(); ++frame) {
        if (sent[frame] && (frame == 0 || !sent[frame - 1])) ++bursts;
        if (speech[frame]) {
            lastSpeech = frame;
            ++speechFrames;
            EXPECT_TRUE(sent[frame]) << "speech held back at frame " << frame;
            continue;
        }
        if (!sent[frame]) continue;
        const bool held = lastSpeech && frame - *lastSpeech <= kVoiceActivityHoldFrames;
        bool preRoll = false;
        for (size_t ahead = frame + 1; ahead <= frame + kPreRollFrames && ahead < sent.size(); ++ahead)
            preRoll = preRoll || speech[ahead];
        EXPECT_TRUE(held || preRoll) << "frame " << frame << " sent, neither speech nor next to it";
    }
    const std::vector<size_t> turns = TurnStarts(signal);
    ASSERT_GE(turns.size(), 8u);
    EXPECT_GE(bursts, turns.size());

    // Each turn's first 60 ms as heard, against what always-on delivers. A
    // clipped start would begin louder.
    const size_t onset = kSampleRateHz * 60 / 1000;
    double worstDb = 0;
    int64_t latestMs = 0;
    for (const size_t start : turns) {
        const size_t alwaysAt = OnsetIn(always.heard, start), activeAt = OnsetIn(activity.heard, start);
        ASSERT_LT(alwaysAt, always.heard.size());
        ASSERT_LT(activeAt, activity.heard.size()) << "the turn at " << start / kSampleRateHz << " s was not heard";
        worstDb = std::max(worstDb, std::abs(EnergyDb(always.heard, alwaysAt, onset) -
                                             EnergyDb(activity.heard, activeAt, onset)));
        latestMs = std::max<int64_t>(latestMs, (static_cast<int64_t>(activeAt) - static_cast<int64_t>(alwaysAt)) *
                                                   1000 / kSampleRateHz);
    }
    const double shareSent = static_cast<double>(activity.sent.size()) / always.sent.size();
    std::printf(
        "%zu turns, %zu frames of speech; voice activity sent %.1f %% of always-on's frames; onsets within "
        "%.2f dB of always-on, heard up to %lld ms later\n",
        turns.size(), speechFrames, 100 * shareSent, worstDb, static_cast<long long>(latestMs));
    EXPECT_LE(worstDb, 3.0);
    // The pre-roll plays first; its bunch does not make the listener wait.
    EXPECT_LE(latestMs, kPreRollFrames * kFrameMs);
    EXPECT_LE(shareSent, 0.5);
    EXPECT_EQ(activity.frames, activity.sent.size() + activity.suppressed);
}

}  // namespace
