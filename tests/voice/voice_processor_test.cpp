// Echo cancellation and noise suppression of a microphone, driven sample by
// sample: the speaker's sound comes back into the microphone at -10 dB after
// 40 ms, as a desk's speakers and microphone make it.
#include "testkit/audio/synthetic_audio.h"
#include "testkit/signal/signal_generator.h"
#include "testkit/signal/tone_analysis.h"
#include "voice/codec/voice_frame.h"
#include "voice/voice_processor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {
using namespace voice;

constexpr int kFarHz = 1050, kNearHz = 850;
constexpr int kStep = kSampleRateHz / 100;
constexpr int kEchoDelayMs = 40;
constexpr double kEchoGain = 0.316;  // -10 dB
constexpr int kSeconds = 10;

struct Call {
    std::vector<int16_t> microphone, sent;
};

// The far end's voice is written to the speaker 40 ms before it is heard,
// and heard by the microphone 40 ms after that; the near end says its own
// tone (or nothing). Returns what the microphone heard and what was sent.
// Reported times may drift (both sides' alike, as a sound server's latency
// estimates do) and the first capture time may come late.
struct Reports {
    double drift = 0;
    int64_t firstCaptureLateMicros = 0;
};

Call Talk(bool farTalks, bool nearTalks, double echoGain = kEchoGain, Reports reports = {},
          int echoDelayMs = kEchoDelayMs) {
    const int echoDelaySamples = kSampleRateHz * echoDelayMs / 1000;
    constexpr int kTotal = kSeconds * kSampleRateHz;
    constexpr int kWrittenAhead = kSampleRateHz * 40 / 1000;
    std::vector<int16_t> far(kTotal + kWrittenAhead, 0), near(kTotal, 0);
    const int64_t start = 1000000;
    if (farTalks)
        SignalGenerator(TAVOLIN_MIC_SPEECH, kFarHz, -1).Generate(far.data(), static_cast<int>(far.size()), start);
    if (nearTalks) SignalGenerator(TAVOLIN_MIC_TONE, kNearHz, -1).Generate(near.data(), kTotal, start);
    const auto micros = [start, &reports](int sample) {
        return start + std::llround(sample * 1e6 / kSampleRateHz * (1 - reports.drift));
    };
    VoiceProcessor processor;
    Call call;
    for (int at = 0; at < kTotal; at += kStep) {
        processor.Played(far.data() + at + kWrittenAhead, kStep, {micros(at + kWrittenAhead)});
        for (int i = at; i < at + kStep; ++i) {
            const double echo = i >= echoDelaySamples ? echoGain * far[static_cast<size_t>(i - echoDelaySamples)] : 0;
            call.microphone.push_back(static_cast<int16_t>(near[static_cast<size_t>(i)] + echo));
        }
        processor.Captured(call.microphone.data() + at, kStep,
                           micros(at) + (at == 0 ? reports.firstCaptureLateMicros : 0),
                           [&](const int16_t* s, int n) { call.sent.insert(call.sent.end(), s, s + n); });
    }
    return call;
}

double Energy(const std::vector<int16_t>& x, size_t from) {
    double sum = 0;
    for (size_t i = from; i < x.size(); ++i) sum += static_cast<double>(x[i]) * x[i];
    return sum;
}

TEST(VoiceProcessor, TheEchoGoesWithinFiveSecondsAndTheNearVoicePassesInDoubleTalk) {
    // Each figure is taken over the last five seconds.
    const size_t settled = 5 * kSampleRateHz;
    const Call echoOnly = Talk(/*farTalks=*/true, /*nearTalks=*/false);
    const double erleDb = 10 * std::log10(Energy(echoOnly.microphone, settled) / Energy(echoOnly.sent, settled));

    const size_t window = static_cast<size_t>(kSampleRateHz);
    const auto nearSnr = [&](const Call& call) {
        double worst = 100;
        for (size_t from = settled; from + window <= call.sent.size(); from += window)
            worst = std::min(worst, ToneSnrDb(call.sent, from, window, kNearHz));
        return worst;
    };
    const Call aloneCall = Talk(false, true), both = Talk(true, true);
    // A headset: the far end plays, the microphone hears none of it. A
    // filter that adapts to what is not there must not add it.
    const double headset = nearSnr(Talk(true, true, /*echoGain=*/0));
    const double alone = nearSnr(aloneCall);
    const double doubleTalk = nearSnr(both);
    const double micSnr = [&] {
        Call uncancelled;
        uncancelled.sent = both.microphone;
        return nearSnr(uncancelled);
    }();
    const auto level = [&](const std::vector<int16_t>& x) {
        return ToneLevelDb(x, settled, x.size() - settled, kNearHz);
    };
    std::printf(
        "echo return loss enhancement %.1f dB after 5 s; near tone SNR alone %.1f dB, in double talk %.1f dB "
        "(mic %.1f), with a headset %.1f dB; near level drop %.1f dB\n",
        erleDb, alone, doubleTalk, micSnr, headset, level(aloneCall.sent) - level(both.sent));
    EXPECT_GE(erleDb, 20.0);
    // In double talk the near voice keeps its level, and its SNR is no more
    // than 6 dB below what the microphone heard (the echo left in).
    EXPECT_LE(level(aloneCall.sent) - level(both.sent), 6.0);
    EXPECT_LE(micSnr - doubleTalk, 6.0);
    EXPECT_GE(alone, 40.0);
    EXPECT_GE(headset, 25.0);  // 15 dB when all the estimate was taken away
}

// A desk's echo comes back anywhere from 20 to 60 ms after it was heard
// (the sound server's latencies, the room): the canceller's filter covers
// all of it.
TEST(VoiceProcessor, EchoesFromTwentyToSixtyMillisecondsLateAreCancelled) {
    const size_t settled = 5 * kSampleRateHz;
    for (const int delayMs : {20, 60}) {
        const Call call = Talk(/*farTalks=*/true, /*nearTalks=*/false, kEchoGain, {}, delayMs);
        const double erleDb = 10 * std::log10(Energy(call.microphone, settled) / Energy(call.sent, settled));
        std::printf("echo %d ms late: return loss enhancement %.1f dB after 5 s\n", delayMs, erleDb);
        EXPECT_GE(erleDb, 30.0) << delayMs << " ms";
    }
}

// Both sides' times drift 8 ms a second from their sound (a sound server's
// drift of about 2 ms a second, sped up to fit the call), and the first
// capture time came 10 ms late: the sound is still continuous on both sides,
// so the echo stays where the canceller learned it. Resynchronised side by
// side, it moved by 20 ms every few seconds and the echo came back: 24.5 dB
// then, against 34.9 dB for the steady echo.
TEST(VoiceProcessor, TheEchoStaysCancelledWhileTheReportedTimesDrift) {
    const Call call = Talk(/*farTalks=*/true, /*nearTalks=*/false, kEchoGain, {0.008, 10000});
    const size_t settled = 5 * kSampleRateHz;
    const double erleDb = 10 * std::log10(Energy(call.microphone, settled) / Energy(call.sent, settled));
    std::printf("echo return loss enhancement with drifting times %.1f dB after 5 s\n", erleDb);
    EXPECT_GE(erleDb, 30.0);
}

}  // namespace

// Speech-like bursts of a tone in white noise 10 dB below the bursts, with
// nothing played: the noise suppression alone, over the last five of ten
// seconds. A steady tone would be taken for background, as a hum is. How
// much cleaner: how much more the noise is attenuated in the pauses than
// the voice at the height of its bursts.
TEST(VoiceProcessor, SpeechInWhiteNoiseComesOutAtLeastTenDecibelsCleaner) {
    constexpr int kTotal = kSeconds * kSampleRateHz;
    std::vector<int16_t> voice(kTotal), microphone(kTotal), sent;
    SignalGenerator(TAVOLIN_MIC_SPEECH, kNearHz, -1).Generate(voice.data(), kTotal, 0);
    std::vector<double> blockRms(kTotal / kStep);
    for (size_t b = 0; b < blockRms.size(); ++b) {
        double energy = 0;
        for (size_t i = b * kStep; i < (b + 1) * kStep; ++i) energy += static_cast<double>(voice[i]) * voice[i];
        blockRms[b] = std::sqrt(energy / kStep);
    }
    const double loudest = *std::max_element(blockRms.begin(), blockRms.end());
    std::mt19937 random(27);
    std::normal_distribution<double> noise(0, loudest / std::sqrt(10.0));
    for (int i = 0; i < kTotal; ++i)
        microphone[static_cast<size_t>(i)] =
            static_cast<int16_t>(std::lround(voice[static_cast<size_t>(i)] + noise(random)));
    VoiceProcessor processor;
    const std::vector<int16_t> silence(kStep, 0);
    const auto micros = [](int sample) { return 1000000 + int64_t{sample} * 1000000 / kSampleRateHz; };
    for (int at = 0; at < kTotal; at += kStep) {
        processor.Played(silence.data(), kStep, {micros(at)});
        processor.Captured(microphone.data() + at, kStep, micros(at),
                           [&](const int16_t* s, int n) { sent.insert(sent.end(), s, s + n); });
    }
    // Pauses: blocks of silence with silence on either side; peaks: blocks
    // within 3 dB of the loudest.
    double pauseIn = 0, pauseOut = 0, peakIn = 0, peakOut = 0;
    for (size_t b = 5 * kSampleRateHz / kStep + 2; b + 2 < blockRms.size(); ++b) {
        const bool pause = blockRms[b - 2] + blockRms[b - 1] + blockRms[b] + blockRms[b + 1] + blockRms[b + 2] == 0;
        const bool peak = blockRms[b] > loudest / std::sqrt(2.0);
        if (!pause && !peak) continue;
        for (size_t i = b * kStep; i < (b + 1) * kStep; ++i) {
            const double in = static_cast<double>(microphone[i]) * microphone[i];
            const double out = static_cast<double>(sent[i]) * sent[i];
            (pause ? pauseIn : peakIn) += in;
            (pause ? pauseOut : peakOut) += out;
        }
    }
    const double noiseDb = 10 * std::log10(pauseOut / pauseIn), voiceDb = 10 * std::log10(peakOut / peakIn);
    std::printf(
        "speech in white noise at 10 dB SNR: noise %+.1f dB in the pauses, voice %+.1f dB at its peaks: "
        "%.1f dB cleaner\n",
        noiseDb, voiceDb, voiceDb - noiseDb);
    EXPECT_GE(voiceDb - noiseDb, 10.0);
}
