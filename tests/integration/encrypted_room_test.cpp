// An encrypted room of three players on loopback, video and voice, whose
// lobby hands out a new epoch mid-call: every pair sees nearly every frame
// and hears every voice, before and after the switch, every datagram opens
// (the epoch reaching one player late included), and the switch skips no
// frame and loses no voice frame.
#include "testbed/address_server/address_server_process.h"
#include "testbed/linked_engine.h"
#include "testbed/lobby.h"
#include "testbed/room.h"
#include "testbed/room_secret.h"
#include "testbed/voice_room.h"
#include "tools/room/report.h"
#include "tools/room/transport_report.h"
#include "transport/rtp/rtp_packet_pool.h"

#include <tavolin/tavolin.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <thread>

namespace {
using namespace std::chrono_literals;

constexpr int kPlayers = 3;
constexpr double kLeastShareShown = 0.95;
// Around the switch, every frame the sender captured is shown, in order.
constexpr double kSwitchWindowBeforeSeconds = 0.5;
constexpr double kSwitchWindowAfterSeconds = 1.5;
constexpr auto kLateLobbyMessage = std::chrono::milliseconds(300);

room::VoiceFunctions LinkedVoice() {
    return {&TavolinAddSyntheticMicrophone, &TavolinAddSyntheticSpeaker, &TavolinSelectVoiceDevice,
            &TavolinSetVoiceLogSink,        &TavolinGetVoiceStats,       &TavolinGetVoiceControlStats,
            &TavolinSetVoiceTransmitMode,   &TavolinSetVoiceTalking,     &TavolinSetVoiceUserVolume,
            &TavolinMuteVoiceUser};
}

// The largest step between successive frame numbers shown within the window.
int LargestStep(const std::vector<room::DrawSample>& samples, double from, double to) {
    int largest = 0;
    std::optional<uint16_t> previous;
    for (const room::DrawSample& sample : samples) {
        if (sample.time < from || sample.time > to || !sample.number) continue;
        if (previous) largest = std::max(largest, static_cast<int>(static_cast<uint16_t>(*sample.number - *previous)));
        previous = sample.number;
    }
    return largest;
}

TEST(EncryptedRoom, ThreePlayersSeeAndHearEachOtherAcrossAnEpochChangeAndEveryDatagramOpens) {
    std::string error;
    const auto server = room::AddressServerProcess::Start(TAVOLIN_DEFAULT_ADDRD, &error);
    ASSERT_TRUE(server) << error;
    const rtp::RTPPacketPool::Totals before = rtp::RTPPacketPool::ProcessTotals();
    const room::RoomSecret first = room::NewRoomSecret("encrypted room test", 1);
    const room::RoomSecret second = room::NewRoomSecret("encrypted room test", 2);

    room::SharedLobby lobby;
    room::VoiceRoom voice(LinkedVoice(), {1, 2, 3}, kPlayers, testing::TempDir());
    ASSERT_TRUE(voice.AddDevices(&error)) << error;
    std::vector<room::RoomPlayer> players;
    for (int id = 1; id <= kPlayers; ++id) {
        players.push_back(room::SyntheticCameraPlayer(id, room::kLoopbackAddress, room::kLoopbackAddress,
                                                      server->Port()));
        players.back().setup.roomSecret = first;
    }
    std::map<int, std::vector<room::DrawSample>> samples;  // viewer * 10 + sender
    room::RoomReport report;
    double switchedAt = 0;
    {
        room::Room room(room::LinkedEngine(), std::move(players), kPlayers, lobby);
        ASSERT_TRUE(room.Start(&error)) << error;
        for (int id = 1; id <= kPlayers; ++id) room.Post(id, voice.StartTask(id));
        ASSERT_TRUE(room.WaitFor(
            [&] { return room.Status().pairsWithVideo == kPlayers * (kPlayers - 1) && voice.FramesPlayed() > 0; },
            15s));
        std::this_thread::sleep_for(2s);

        // The lobby hands every player the next epoch, as when one leaves,
        // the last a while after the others: what they send under it must
        // still open there.
        std::atomic<int> switched{0};
        switchedAt = room.Now();
        for (int id = 1; id <= kPlayers; ++id) {
            if (id == kPlayers) std::this_thread::sleep_for(kLateLobbyMessage);
            room.Post(id, [&](room::PlayerContext& player) { switched += room::ChangeEpoch(player.Engine(), second); });
        }
        ASSERT_TRUE(room.WaitFor([&] { return switched == kPlayers; }, 2s));
        std::this_thread::sleep_for(2500ms);
        voice.CollectCounters();
        room.Stop();
        report = room.Report();
        for (int viewer = 1; viewer <= kPlayers; ++viewer)
            for (int sender = 1; sender <= kPlayers; ++sender)
                if (viewer != sender) samples[viewer * 10 + sender] = room.PlayerById(viewer).PairOf(sender).Samples();
    }
    room::PrintReport(report, std::cout);
    room::PrintEncryptionTable(report, std::cout);

    EXPECT_TRUE(report.EveryViewerSawEverySender());
    for (const room::PairSummary& pair : report.pairs) {
        SCOPED_TRACE(testing::Message() << "viewer " << pair.viewer << ", sender " << pair.sender);
        ASSERT_TRUE(pair.shownShare);
        EXPECT_GE(*pair.shownShare, kLeastShareShown);
        EXPECT_EQ(LargestStep(samples[pair.viewer * 10 + pair.sender], switchedAt - kSwitchWindowBeforeSeconds,
                              switchedAt + kSwitchWindowAfterSeconds),
                  1)
            << "a frame was skipped at the switch";
    }
    for (const room::PlayerOutcome& player : report.players) {
        EXPECT_TRUE(player.problems.empty()) << player.problems.front();
        ASSERT_EQ(player.engineFigures.peers.size(), size_t{kPlayers - 1});
        for (const auto& [sender, figures] : player.engineFigures.peers) {
            SCOPED_TRACE(testing::Message() << "viewer " << player.userId << ", sender " << sender);
            EXPECT_EQ(figures.encrypted, 1);
            EXPECT_GT(figures.packetsAuthenticated, 0u);
            EXPECT_EQ(figures.authenticationFailures, 0u);
            EXPECT_EQ(figures.unknownEpochDropped, 0u);
        }
    }
    const room::VoiceReport heard = voice.Report();
    ASSERT_EQ(heard.pairs.size(), size_t{kPlayers * (kPlayers - 1)});
    for (const room::VoicePair& pair : heard.pairs) {
        SCOPED_TRACE(testing::Message() << "listener " << pair.listener << ", speaker " << pair.speaker);
        EXPECT_TRUE(pair.heard);
        EXPECT_EQ(pair.lost, 0u) << "no voice frame lost, the switch included";
    }
    const rtp::RTPPacketPool::Totals now = rtp::RTPPacketPool::ProcessTotals();
    EXPECT_EQ(now.acquired - before.acquired, now.released - before.released);
}

}  // namespace
