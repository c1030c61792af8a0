// A room of two players, video and voice, while a stranger floods every port
// of both engines with garbage, oversized and truncated datagrams and with
// well-formed RTP and RTCP of sources that are no player: media keep
// flowing, nothing crashes, resident memory stays put and every received
// packet goes back to its pool.
#include "testbed/address_server/address_server_process.h"
#include "testbed/linked_engine.h"
#include "testbed/lobby.h"
#include "testbed/room.h"
#include "testbed/voice_room.h"
#include "transport/rtp/rtp_packet_pool.h"

#include <tavolin/tavolin.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {
using namespace std::chrono_literals;

constexpr int kPlayers = 2;
constexpr int kFloodDatagrams = 120000;
constexpr auto kFloodTimeLimit = 40s;
constexpr int kBurst = 64;
constexpr auto kBurstPause = 2ms;
constexpr size_t kOversizedBytes = 60000;
constexpr long kMostRssGrowthKiB = 20 * 1024;
constexpr auto kQuietPeriod = 3s;
// Pictures and voice frames per second under the flood, against the same
// room's quiet rates just before.
constexpr double kLeastRateKept = 0.5;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Every address record the players publish, kept for the stranger.
class RecordingLobby : public room::Lobby {
public:
    bool Publish(const room::PeerAddress& address) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            published_.push_back(address);
        }
        return inner_.Publish(address);
    }
    std::vector<room::PeerAddress> TakeNewPeers(int forUserId) override { return inner_.TakeNewPeers(forUserId); }
    std::vector<room::PeerAddress> Published() {
        std::lock_guard<std::mutex> lock(mutex_);
        return published_;
    }

private:
    room::SharedLobby inner_;
    std::mutex mutex_;
    std::vector<room::PeerAddress> published_;
};

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "VmRSS:" && status >> value) return value;
    }
    return -1;
}

// The stranger's datagrams, one kind after the other.
class Stranger {
public:
    Stranger() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Stranger() {
        if (fd_ >= 0) close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    void SendOne(uint16_t port, int n) {
        std::vector<uint8_t> bytes;
        switch (n % 6) {
            case 0: bytes = Garbage(); break;
            case 1: bytes.assign(n % 60 == 1 ? kOversizedBytes : 1600, 0x80); break;  // oversized
            case 2:
                bytes = ForeignRtp(n);
                bytes.resize(random_() % 12);
                break;  // truncated
            case 3: bytes = ForeignRtp(n); break;
            case 4: bytes = ForeignReports(n); break;
            default: bytes = ForeignBye(n); break;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(room::kLoopbackAddress);
        to.sin_port = htons(port);
        sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    std::vector<uint8_t> Garbage() {
        std::vector<uint8_t> bytes(random_() % 200);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
        return bytes;
    }
    // Voice-like or video-like RTP from a made-up source.
    std::vector<uint8_t> ForeignRtp(int n) {
        const bool video = n % 2;
        std::vector<uint8_t> bytes(video ? 550 : 63, 0x11);
        bytes[0] = 0x80;
        bytes[1] = video ? 34 : 102;
        bytes[2] = static_cast<uint8_t>(n >> 8);
        bytes[3] = static_cast<uint8_t>(n);
        Put32(&bytes[8], static_cast<uint32_t>(random_()));
        return bytes;
    }
    // A receiver report with 31 blocks and an SDES CNAME, from a made-up source.
    std::vector<uint8_t> ForeignReports(int) {
        constexpr size_t kReportBytes = 8 + 31 * 24;
        const uint8_t sdes[] = {0x81, 202, 0, 3, 0, 0, 0, 0, 1, 3, 'x', '@', 'y', 0, 0, 0};
        std::vector<uint8_t> bytes(kReportBytes + sizeof sdes, 0);
        bytes[0] = 0x80 | 31;
        bytes[1] = 201;
        bytes[3] = static_cast<uint8_t>(kReportBytes / 4 - 1);
        std::copy(sdes, sdes + sizeof sdes, bytes.begin() + kReportBytes);
        const uint32_t ssrc = static_cast<uint32_t>(random_());
        Put32(&bytes[4], ssrc);
        Put32(&bytes[kReportBytes + 4], ssrc);
        return bytes;
    }
    std::vector<uint8_t> ForeignBye(int) {
        std::vector<uint8_t> bytes = {0x81, 203, 0, 1, 0, 0, 0, 0};
        Put32(&bytes[4], static_cast<uint32_t>(random_()));
        return bytes;
    }
    static void Put32(uint8_t* at, uint32_t value) {
        for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }

    int fd_;
    std::mt19937 random_{7};
};

TEST(Flood, VideoAndVoiceKeepFlowingWhileAStrangerFloodsEveryPort) {
    std::string error;
    const auto server = room::AddressServerProcess::Start(TAVOLIN_DEFAULT_ADDRD, &error);
    ASSERT_TRUE(server) << error;
    const rtp::RTPPacketPool::Totals before = rtp::RTPPacketPool::ProcessTotals();
    RecordingLobby lobby;
    room::VoiceFunctions voiceFunctions{&TavolinAddSyntheticMicrophone, &TavolinAddSyntheticSpeaker,
                                        &TavolinSelectVoiceDevice,      &TavolinSetVoiceLogSink,
                                        &TavolinGetVoiceStats,          &TavolinGetVoiceControlStats,
                                        &TavolinSetVoiceTransmitMode,   &TavolinSetVoiceTalking,
                                        &TavolinSetVoiceUserVolume,     &TavolinMuteVoiceUser};
    const std::string outDirectory = testing::TempDir();
    room::VoiceRoom voice(voiceFunctions, {1, 2}, kPlayers, outDirectory);
    ASSERT_TRUE(voice.AddDevices(&error)) << error;
    std::vector<room::RoomPlayer> players;
    for (int id = 1; id <= kPlayers; ++id)
        players.push_back(room::SyntheticCameraPlayer(id, room::kLoopbackAddress, room::kLoopbackAddress,
                                                      server->Port()));

    room::Room room(room::LinkedEngine(), std::move(players), kPlayers, lobby);
    ASSERT_TRUE(room.Start(&error)) << error;
    for (int id = 1; id <= kPlayers; ++id) room.Post(id, voice.StartTask(id));
    ASSERT_TRUE(room.WaitFor([&] { return room.Status().pairsWithVideo == kPlayers && voice.FramesPlayed() > 0; },
                             15s));

    std::vector<uint16_t> ports;
    for (const room::PeerAddress& player : lobby.Published()) {
        for (uint16_t base : {player.audioLocalPort, player.videoLocalPort}) {
            ports.push_back(base);
            ports.push_back(static_cast<uint16_t>(base + 1));
        }
    }
    ASSERT_EQ(ports.size(), 4u * kPlayers);

    const auto drawn = [&] { return room.PlayerById(1).DrawnFrom(2) + room.PlayerById(2).DrawnFrom(1); };
    const auto quietStart = std::chrono::steady_clock::now();
    const uint64_t drawnQuiet = drawn();
    const uint64_t heardQuiet = voice.FramesPlayed();
    std::this_thread::sleep_for(kQuietPeriod);
    const double quietSeconds = Seconds(std::chrono::steady_clock::now() - quietStart);
    const double quietPictures = double(drawn() - drawnQuiet) / quietSeconds;
    const double quietVoice = double(voice.FramesPlayed() - heardQuiet) / quietSeconds;

    const long rssBefore = ResidentKiB();
    const uint64_t drawnBefore = drawn();
    const uint64_t heardBefore = voice.FramesPlayed();
    const auto floodStart = std::chrono::steady_clock::now();
    Stranger stranger;
    ASSERT_TRUE(stranger.IsOpen());
    const auto deadline = std::chrono::steady_clock::now() + kFloodTimeLimit;
    int sent = 0;
    while (sent < kFloodDatagrams && std::chrono::steady_clock::now() < deadline) {
        for (int i = 0; i < kBurst; ++i, ++sent) stranger.SendOne(ports[size_t(sent) % ports.size()], sent);
        std::this_thread::sleep_for(kBurstPause);
    }
    const double floodSeconds = Seconds(std::chrono::steady_clock::now() - floodStart);
    const double floodPictures = double(drawn() - drawnBefore) / floodSeconds;
    const double floodVoice = double(voice.FramesPlayed() - heardBefore) / floodSeconds;
    std::this_thread::sleep_for(1s);  // what was queued is taken and given back
    const long rssAfter = ResidentKiB();
    voice.CollectCounters();
    room.Stop();
    const room::RoomReport report = room.Report();

    std::cout << sent << " datagrams in " << floodSeconds << " s; pictures per second " << floodPictures << " (quiet "
              << quietPictures << "), voice frames per second " << floodVoice << " (quiet " << quietVoice
              << "); resident " << rssBefore << " -> " << rssAfter << " KiB\n";
    EXPECT_GE(sent, 100000);
    EXPECT_GE(floodPictures, kLeastRateKept * quietPictures);
    EXPECT_GE(floodVoice, kLeastRateKept * quietVoice);
    EXPECT_GT(floodVoice, 0);
    // AddressSanitizer keeps freed memory in quarantine (up to 256 MB), so
    // resident memory says nothing there; the plain build checks it.
    if (!kAddressSanitizer) {
        EXPECT_LE(rssAfter - rssBefore, kMostRssGrowthKiB);
    }
    EXPECT_TRUE(report.EveryViewerSawEverySender());
    const rtp::RTPPacketPool::Totals now = rtp::RTPPacketPool::ProcessTotals();
    EXPECT_EQ(now.acquired - before.acquired, now.released - before.released);
}

}  // namespace
