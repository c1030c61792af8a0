// Two engines on loopback, each with the library's own voice component and
// synthetic devices: what each player hears of the other, and how the call
// survives missing and failing devices.
#include "tests/voice/voice_players.h"
#include "transport/address/address_server.h"
#include "voice/voice_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

namespace {
using namespace std::chrono_literals;
using namespace voice_test;

class VoiceLoopback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(addressServer.Start(kLoopback, 0)); }
    void TearDown() override { TavolinRemoveSyntheticAudioDevices(); }
    CAddressServerThread addressServer;
};

TEST_F(VoiceLoopback, EachPlayerHearsTheOthersToneCleanlyAndSoon) {
    struct Voice {
        int id, frequencyHz, markerOffsetMs;
    };
    const Voice voices[] = {{1, voice::kDistinctToneFrequenciesHz[0], 100},
                            {2, voice::kDistinctToneFrequenciesHz[1], 600}};
    Ear ears[2];
    for (int i = 0; i < 2; ++i) {
        const std::string id = std::to_string(voices[i].id);
        ASSERT_EQ(1, TavolinAddSyntheticMicrophone(("mic-" + id).c_str(), TAVOLIN_MIC_TONE, voices[i].frequencyHz,
                                                   voices[i].markerOffsetMs, 0));
        ASSERT_EQ(1, TavolinAddSyntheticSpeaker(("ear-" + id).c_str(), &OnHeard, &ears[i], nullptr, 0));
    }
    Player one(1, addressServer.Port()), two(2, addressServer.Port());
    Player* players[] = {&one, &two};
    for (int i = 0; i < 2; ++i) {
        const std::string id = std::to_string(voices[i].id);
        ASSERT_EQ(1, TavolinSelectVoiceDevice(players[i]->engine, TAVOLIN_VOICE_MICROPHONE, ("mic-" + id).c_str()));
        ASSERT_EQ(1, TavolinSelectVoiceDevice(players[i]->engine, TAVOLIN_VOICE_SPEAKER, ("ear-" + id).c_str()));
    }
    ASSERT_TRUE(KnowTheirAddresses(one, two));
    one.Meet(two);
    two.Meet(one);
    one.Talk();
    two.Talk();
    ASSERT_TRUE(PumpUntil([&] { return ears[0].Samples() >= 10 * 16000u && ears[1].Samples() >= 10 * 16000u; }, 15s));

    for (int listener = 0; listener < 2; ++listener) {
        const Voice& speaker = voices[1 - listener];
        SCOPED_TRACE(testing::Message() << "player " << voices[listener].id << " hearing " << speaker.id);
        std::lock_guard lock(ears[listener].lock);
        const voice::Recording& heard = ears[listener].recording;
        // Half a second between two markers in each second after the call
        // settled; the median of those.
        std::vector<double> snrs;
        const int64_t offset = speaker.markerOffsetMs * 1000;
        for (int64_t marker = (heard.startMicros + 2000000 - offset) / 1000000 * 1000000 + offset;; marker += 1000000) {
            const size_t from = static_cast<size_t>((marker + 250000 - heard.startMicros) * 16 / 1000);
            if (from + 8000 > heard.samples.size()) break;
            snrs.push_back(voice::ToneSnrDb(heard.samples, from, 8000, speaker.frequencyHz));
        }
        ASSERT_GE(snrs.size(), 4u);
        std::sort(snrs.begin(), snrs.end());
        const double snr = snrs[snrs.size() / 2];
        std::vector<int64_t> latencies = voice::MarkerLatencies(heard, speaker.frequencyHz, speaker.markerOffsetMs);
        const TavolinVoiceStats stats = players[listener]->StatsOf(speaker.id);
        ASSERT_GE(latencies.size(), 4u) << "SNR median " << snrs[snrs.size() / 2] << " dB; frames played "
                                        << stats.framesPlayed << ", concealed " << stats.framesConcealed << ", skipped "
                                        << stats.framesSkipped << ", jitter delay " << stats.jitterDelayMs << " ms";
        std::sort(latencies.begin(), latencies.end());
        const double medianMs = latencies[latencies.size() / 2] / 1000.0;
        std::printf(
            "player %d hears %d: SNR %.1f dB (median of %zu), mouth-to-ear median %.1f ms, max %.1f ms over %zu "
            "markers; frames played %llu, lost %llu, concealed %llu, skipped %llu, jitter delay %d ms\n",
            voices[listener].id, speaker.id, snr, snrs.size(), medianMs, latencies.back() / 1000.0, latencies.size(),
            static_cast<unsigned long long>(stats.framesPlayed), static_cast<unsigned long long>(stats.framesLost),
            static_cast<unsigned long long>(stats.framesConcealed),
            static_cast<unsigned long long>(stats.framesSkipped), stats.jitterDelayMs);
        EXPECT_GE(snr, 20.0);
        EXPECT_LE(medianMs, 100.0);
        EXPECT_GT(medianMs, 30.0) << "faster than one frame: the marker was not found where it is";
        EXPECT_GT(stats.framesPlayed, 250u);
        EXPECT_EQ(0u, stats.framesLost);
    }
    // The level poll shows the remote voice through the view.
    EXPECT_FALSE(one.view.levels.empty());
    EXPECT_GT(*std::max_element(one.view.levels.begin(), one.view.levels.end()), 0);
}

TEST_F(VoiceLoopback, MissingBrokenAndRemovedDevicesLeaveTheCallRunning) {
    Ear ear;
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("broken", TAVOLIN_MIC_TONE, 500, -1, TAVOLIN_SYNTHETIC_FAILS_TO_START));
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("b-mic", TAVOLIN_MIC_SPEECH, 300, -1, 0));
    ASSERT_EQ(1, TavolinAddSyntheticSpeaker("b-ear", &OnHeard, &ear, nullptr, 0));
    Player a(1, addressServer.Port()), b(2, addressServer.Port());
    TavolinSelectVoiceDevice(a.engine, TAVOLIN_VOICE_MICROPHONE, "broken");
    TavolinSelectVoiceDevice(a.engine, TAVOLIN_VOICE_SPEAKER, "absent speaker");
    TavolinSelectVoiceDevice(b.engine, TAVOLIN_VOICE_MICROPHONE, "b-mic");
    TavolinSelectVoiceDevice(b.engine, TAVOLIN_VOICE_SPEAKER, "b-ear");
    ASSERT_TRUE(KnowTheirAddresses(a, b));
    a.Meet(b);
    b.Meet(a);
    a.Talk();
    b.Talk();
    // A's microphone fails and it has no speaker: A still receives B.
    ASSERT_TRUE(PumpUntil([&] { return a.StatsOf(2).framesReceived >= 30; }, 5s));
    EXPECT_TRUE(a.voiceLog.Contains("Voice: microphone \"broken\" failed: broken fails to start"));
    EXPECT_TRUE(a.voiceLog.Contains("Voice: speaker \"absent speaker\" failed: no such device"));
    EXPECT_EQ(0u, b.StatsOf(1).framesReceived);
    EXPECT_EQ(0u, a.StatsOf(-1).framesSent);
    EXPECT_GT(ear.Samples(), 0u) << "B's speaker plays (silence from A)";

    // B's microphone vanishes mid-call: logged, nothing more is sent.
    ASSERT_EQ(1, TavolinRemoveSyntheticAudioDevice("b-mic"));
    ASSERT_TRUE(PumpUntil([&] { return b.voiceLog.Contains("Voice: microphone \"b-mic\" failed: b-mic was removed"); },
                          2s));
    PumpFor(300ms);
    const uint64_t received = a.StatsOf(2).framesReceived;
    PumpFor(500ms);
    EXPECT_EQ(received, a.StatsOf(2).framesReceived);

    // Plugged in again: B is heard again, and both engines kept running.
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("b-mic", TAVOLIN_MIC_SPEECH, 300, -1, 0));
    EXPECT_TRUE(PumpUntil([&] { return a.StatsOf(2).framesReceived >= received + 20; }, 5s));
    EXPECT_TRUE(b.voiceLog.Contains("Voice: microphone \"b-mic\" works again"));
}

TEST_F(VoiceLoopback, TheComponentIsTheLibrarysOwnUntilTheHostRemovesIt) {
    {
        Player withVoice(1, addressServer.Port());
        TavolinVoiceStats stats{};
        EXPECT_EQ(1, TavolinGetVoiceStats(withVoice.engine, -1, &stats));
    }
    ASSERT_EQ(S_OK, TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr));
    {
        Player withoutVoice(1, addressServer.Port());
        TavolinVoiceStats stats{};
        EXPECT_EQ(0, TavolinGetVoiceStats(withoutVoice.engine, -1, &stats));
        EXPECT_EQ(0, TavolinSelectVoiceDevice(withoutVoice.engine, TAVOLIN_VOICE_SPEAKER, nullptr));
        withoutVoice.Talk();  // the voice switch with no component: nothing to call
        PumpFor(200ms);
    }
    ASSERT_EQ(S_OK, TavolinRegisterComponent(&CLSID_TavolinAudioEngine, &voice::CreateVoiceComponent));
}

}  // namespace
