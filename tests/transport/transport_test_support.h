// Helpers for the transmission tests: a message window on the test thread
// that plays the engine's window procedure, a packet sink that records what
// reaches a user, RTP datagrams as a remote player sends them, and a tick
// source the test sets by hand.
#pragma once

#include "platform/win32.h"
#include "tests/platform/recording_window.h"
#include "tests/support/recording_log_sink.h"
#include "tests/support/udp_peer.h"
#include "transport/address/address_server.h"
#include "transport/tavolin_rtp_session.h"
#include "transport/transmission.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace transport_testing {

// The messages the test window answers, handed to the transmission as the
// engine hands over its own.
constexpr UINT kAudioReceived = 6440;
constexpr UINT kVideoReceived = 6441;
constexpr UINT kAudioPublicAddress = 6442;
constexpr UINT kVideoPublicAddress = 6443;
TransmissionMessages TestMessages(void* context);

// A recording window owned by the test thread. 6440/6441 call the
// transmission's receive handlers (as the engine does); 6442/6443 are
// recorded and their records freed.
class TestWindow {
public:
    TestWindow();
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return window_; }
    // Pumps the test thread's messages until `done` holds or timeoutMs passes.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
    // Pumps for a while without a goal (to see that nothing more arrives).
    void PumpFor(int ms);

    // When false, 6440/6441 are only counted and the queues are left alone.
    bool dispatchReceived = true;
    int audioReceivedMessages = 0;
    int videoReceivedMessages = 0;
    std::vector<PublicAddressRecord> audioAddresses;
    std::vector<PublicAddressRecord> videoAddresses;
    std::vector<LPARAM> addressContexts;

private:
    void OnMessage(const platform_test::Received& message);

    platform_test::RecordingClass class_;
    platform_test::MessageLog log_;
    HWND window_ = nullptr;
};

// Records what the transmission delivers to one user and holds the video
// packets it is given until ReleaseVideo.
class RecordingPacketSink : public ITavolinPacketSink {
public:
    void OnVideoPacket(int userId, rtp::RTPPacket* packet) override;
    void OnAudioPacket(int userId, const uint8_t* payload, size_t length) override;
    void SetTransmission(ITavolinPacketReleaser* transmission) override { releaser = transmission; }
    void ReleaseHeldPackets() override { ReleaseVideo(); }

    // Gives every held video packet back through the releaser.
    void ReleaseVideo();

    ITavolinPacketReleaser* releaser = nullptr;
    std::vector<std::vector<uint8_t>> audioPayloads;
    std::vector<std::vector<uint8_t>> videoPayloads;
    std::vector<rtp::RTPPacket*> heldVideo;
    std::vector<int> userIds;
};

// An RTP datagram (version 2, no extension) as a remote engine sends it.
std::vector<uint8_t> RtpDatagram(uint8_t payloadType, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                                 const std::vector<uint8_t>& payload);
std::vector<uint8_t> Bytes(const std::string& text);

// An RTP and RTCP socket pair on 127.0.0.1 (even port P and P + 1), as a
// remote session has; records every datagram either socket receives.
class UdpPortPair {
public:
    struct Received {
        std::vector<uint8_t> bytes;
        uint16_t fromPort;
        uint16_t toPort;
    };

    UdpPortPair();  // the first free even pair from a random start
    ~UdpPortPair();
    UdpPortPair(const UdpPortPair&) = delete;
    UdpPortPair& operator=(const UdpPortPair&) = delete;

    uint16_t RtpPort() const { return port_; }
    uint16_t RtcpPort() const { return static_cast<uint16_t>(port_ + 1); }
    int RtpFd() const { return fds_[0]; }
    int RtcpFd() const { return fds_[1]; }
    bool SendFromRtp(uint16_t toPort, const std::vector<uint8_t>& bytes);
    bool SendFromRtcp(uint16_t toPort, const std::vector<uint8_t>& bytes);
    // Appends to `received` what arrives within timeoutMs; returns the count.
    size_t Collect(int timeoutMs);

    std::vector<Received> received;

private:
    static bool SendFrom(int fd, uint16_t toPort, const std::vector<uint8_t>& bytes);

    int fds_[2] = {-1, -1};
    uint16_t port_ = 0;
};

// Writes UDP datagrams between loopback ports as a pcap file of raw IPv4.
bool WriteLoopbackPcap(const std::string& path, const std::vector<UdpPortPair::Received>& datagrams);

// True when `name` is found on the PATH.
bool ToolExists(const std::string& name);
// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command);

// GetTickCount returns what the test sets while this lives.
class ManualTicks {
public:
    explicit ManualTicks(DWORD start);
    ~ManualTicks();
    void Set(DWORD now);
    void Advance(DWORD ms);
};

// A created transmission on the test thread's window, with a log sink, an
// address server on loopback for discovery, and helpers to watch the wire.
class TransmissionTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Asks the server through both sessions and pumps until both answered.
    void LearnPublicAddresses();
    // The next RTP packet that reaches `peer` within timeoutMs.
    static std::optional<testing_support::RtpView> NextRtp(testing_support::UdpPeer& peer, int timeoutMs = 500);
    // Adds a peer whose public and local pairs are two loopback sockets.
    void AddLoopbackPeer(int userId, testing_support::UdpPeer& publicSide, testing_support::UdpPeer& localSide,
                         RecordingPacketSink* sink, bool video);

    static constexpr uint32_t kRequestValue = 1;
    TestWindow window;
    testing_support::RecordingLogSink log;
    CAddressServerThread server;
    int eventContext = 0;
    CTavolinTransmission transmission;  // destroyed first: its poll threads post to the window
};

}  // namespace transport_testing
