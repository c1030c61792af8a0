// Public-address discovery through the scrambled exchange, and "TRANS".
#include "transport/address/address_datagram.h"
#include "transport_test_support.h"

#include <chrono>
#include <thread>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;
using testing_support::UdpPeer;

class DiscoveryTest : public TransmissionTest {
protected:
    // The fake server's view of one request from each session, keyed by the
    // session's RTP port.
    void ExpectRequestFromBothSessions(UdpPeer& fakeServer) {
        std::vector<uint16_t> ports;
        for (int i = 0; i < 2; ++i) {
            auto request = fakeServer.Receive(1000);
            ASSERT_TRUE(request);
            address_exchange::Unscramble(request->bytes.data(), request->bytes.size());
            EXPECT_EQ(request->bytes, (std::vector<uint8_t>{6, 0, 0, 0, 1, 4, 0, 1, 0, 0, 0}));
            ports.push_back(request->fromPort);
        }
        EXPECT_EQ(ports, (std::vector<uint16_t>{transmission.GetLocalAudioPort(), transmission.GetLocalVideoPort()}));
    }

    void Reply(UdpPeer& from, uint16_t toPort, std::vector<uint8_t> datagram) {
        ASSERT_TRUE(from.SendTo(kLoopback, toPort, datagram.data(), datagram.size()));
    }
};

TEST_F(DiscoveryTest, RequestIsTheScrambledElevenByteDatagramFromEachRtpSocket) {
    UdpPeer fakeServer;
    transmission.RequestPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ExpectRequestFromBothSessions(fakeServer);
    EXPECT_FALSE(transmission.HasPublicAddresses());
}

TEST_F(DiscoveryTest, RepliesFromAnotherPortOrWithABadChecksumAreIgnored) {
    UdpPeer fakeServer, impostor;
    const uint16_t audioPort = transmission.GetLocalAudioPort();
    transmission.RequestPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ExpectRequestFromBothSessions(fakeServer);

    Reply(impostor, audioPort, address_exchange::BuildAddressReply({0xC6120005, 4000}));
    std::vector<uint8_t> badChecksum = address_exchange::BuildAddressReply({0xC6120005, 4000});
    badChecksum[1] ^= 0x10;
    Reply(fakeServer, audioPort, badChecksum);
    std::vector<uint8_t> shortPayload;
    const uint8_t five[5] = {1, 2, 3, 4, 5};
    address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, five, sizeof five, &shortPayload);
    Reply(fakeServer, audioPort, shortPayload);
    window.PumpFor(150);
    EXPECT_FALSE(transmission.AudioSessionForTesting()->hasPublicAddress.load());
    EXPECT_TRUE(window.audioAddresses.empty());

    // The retry asks again, and a proper answer then counts.
    transmission.RetryPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ExpectRequestFromBothSessions(fakeServer);
    Reply(fakeServer, audioPort, address_exchange::BuildAddressReply({0xC6120005, 4000}));
    // The session takes the address as known once the host has been told.
    ASSERT_TRUE(window.PumpUntil(
        [&] { return !window.audioAddresses.empty() && transmission.AudioSessionForTesting()->hasPublicAddress; },
        2000));
    EXPECT_EQ(window.audioAddresses[0].address, 0xC6120005u);
    EXPECT_EQ(window.audioAddresses[0].port, 4000);
    EXPECT_FALSE(transmission.HasPublicAddresses()) << "the video session has not been answered";

    // Only the unanswered session asks again.
    transmission.RetryPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    auto again = fakeServer.Receive(1000);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->fromPort, transmission.GetLocalVideoPort());
    EXPECT_FALSE(fakeServer.Receive(100));
}

TEST_F(DiscoveryTest, EachSessionPostsExactlyOneAddressMessage) {
    LearnPublicAddresses();
    // Answers that arrive later change nothing and post nothing.
    transmission.RetryPublicAddress(kLoopback, server.Port(), &kRequestValue, sizeof kRequestValue);
    transmission.RequestPublicAddress(kLoopback, server.Port(), &kRequestValue, sizeof kRequestValue);
    UdpPeer lateServer;
    Reply(lateServer, transmission.GetLocalAudioPort(), address_exchange::BuildAddressReply({1, 2}));
    window.PumpFor(150);

    ASSERT_EQ(window.audioAddresses.size(), 1u);
    ASSERT_EQ(window.videoAddresses.size(), 1u);
    EXPECT_EQ(window.audioAddresses[0].address, kLoopback);
    EXPECT_EQ(window.audioAddresses[0].port, transmission.GetLocalAudioPort());
    EXPECT_EQ(window.videoAddresses[0].port, transmission.GetLocalVideoPort());
    for (LPARAM context : window.addressContexts) EXPECT_EQ(context, reinterpret_cast<LPARAM>(&eventContext));
    EXPECT_TRUE(transmission.HasPublicAddresses());
    EXPECT_EQ(server.Counters().requests, 2u);
    EXPECT_EQ(transmission.AudioSessionForTesting()->publicPort.load(), transmission.GetLocalAudioPort());
}

TEST_F(DiscoveryTest, UnansweredSessionsHearThePlayersWhenToldAndStillTakeTheAnswer) {
    UdpPeer fakeServer, player, unused, stranger;
    RecordingPacketSink sink;
    const uint16_t audioPort = transmission.GetLocalAudioPort();
    transmission.RequestPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ExpectRequestFromBothSessions(fakeServer);
    AddLoopbackPeer(5, player, unused, &sink, false);
    const auto voice = [&](UdpPeer& from, uint16_t sequence) {
        const uint32_t ssrc = &from == &player ? 0x51 : 0x52;
        const std::vector<uint8_t> datagram = RtpDatagram(102, sequence, 240u * sequence, ssrc, {1, 2, 3});
        ASSERT_TRUE(from.SendTo(kLoopback, audioPort, datagram.data(), datagram.size()));
    };
    voice(player, 0);
    window.PumpFor(100);
    EXPECT_TRUE(sink.audioPayloads.empty()) << "no RTP before the answer or the word";

    transmission.HearPlayersWithoutPublicAddress();
    voice(stranger, 0);
    for (uint16_t sequence = 1; sequence <= 3; ++sequence) voice(player, sequence);
    ASSERT_TRUE(window.PumpUntil([&] { return sink.audioPayloads.size() >= 2; }, 2000)) << "a player is heard";
    CTavolinRTPSession& session = *transmission.AudioSessionForTesting();
    session.BeginDataAccess();
    EXPECT_EQ(session.GetSourceInfo(0x52), nullptr) << "a stranger is not";
    session.EndDataAccess();
    EXPECT_FALSE(transmission.HasPublicAddresses());

    Reply(fakeServer, audioPort, address_exchange::BuildAddressReply({0xC6120005, 4000}));
    ASSERT_TRUE(window.PumpUntil(
        [&] { return !window.audioAddresses.empty() && transmission.AudioSessionForTesting()->hasPublicAddress; },
        2000))
        << "the late answer counts";
    EXPECT_EQ(window.audioAddresses[0].address, 0xC6120005u);
}

TEST_F(DiscoveryTest, TransGoesOnlyToTheAddressServer) {
    UdpPeer peer, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, peer, unused, &sink, false);
    ASSERT_TRUE(NextRtp(peer));  // the hello

    transmission.SendTrans();
    UdpPeer fakeServer;
    EXPECT_FALSE(fakeServer.Receive(50)) << "no server known: nothing is sent";

    transmission.RequestPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ASSERT_TRUE(fakeServer.Receive(1000));
    ASSERT_TRUE(fakeServer.Receive(1000));
    transmission.SendTrans();
    std::vector<uint16_t> fromPorts;
    for (int i = 0; i < 2; ++i) {
        auto datagram = fakeServer.Receive(1000);
        ASSERT_TRUE(datagram);
        auto rtp = testing_support::ParseRtp(datagram->bytes);
        ASSERT_TRUE(rtp);
        EXPECT_EQ(rtp->payloadType, 10);
        EXPECT_FALSE(rtp->marker);
        EXPECT_EQ(rtp->payload, Bytes("TRANS"));
        fromPorts.push_back(datagram->fromPort);
    }
    EXPECT_EQ(fromPorts, (std::vector<uint16_t>{transmission.GetLocalAudioPort(), transmission.GetLocalVideoPort()}));
    EXPECT_FALSE(peer.Receive(100)) << "peers get no TRANS";
}

TEST_F(DiscoveryTest, AddressMessageThatCannotBePostedFreesItsRecordAndIsNotTakenAsKnown) {
    // A window that is gone makes the post fail; LeakSanitizer would report
    // the record otherwise.
    TestWindow doomed;
    CTavolinTransmission other;
    UdpPeer fakeServer;
    ASSERT_EQ(other.Create(doomed.Handle(), TestMessages(&eventContext)), 1);
    DestroyWindow(doomed.Handle());
    other.RequestPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    for (const uint16_t port : {other.GetLocalAudioPort(), other.GetLocalVideoPort()}) {
        ASSERT_TRUE(fakeServer.Receive(1000));
        Reply(fakeServer, port, address_exchange::BuildAddressReply({0xC6120005, 4000}));
    }
    window.PumpFor(300);
    EXPECT_FALSE(other.HasPublicAddresses()) << "the retry timer must ask again";
    EXPECT_TRUE(doomed.audioAddresses.empty());
}

TEST_F(DiscoveryTest, AnAnswerThatCannotBeAnnouncedIsAskedForAgain) {
    UdpPeer fakeServer;
    const uint16_t audioPort = transmission.GetLocalAudioPort();
    constexpr UINT kFiller = 0x7FFF;
    int filled = 0;
    while (filled < 20000 && PostMessageA(window.Handle(), kFiller, 0, 0)) ++filled;
    ASSERT_LT(filled, 20000) << "the quota never refused a post";

    transmission.RequestPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ExpectRequestFromBothSessions(fakeServer);
    Reply(fakeServer, audioPort, address_exchange::BuildAddressReply({0xC6120005, 4000}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(transmission.AudioSessionForTesting()->hasPublicAddress.load()) << "the host was never told";

    window.PumpFor(500);  // the game's thread runs again
    transmission.RetryPublicAddress(kLoopback, fakeServer.Port(), &kRequestValue, sizeof kRequestValue);
    ExpectRequestFromBothSessions(fakeServer);
    Reply(fakeServer, audioPort, address_exchange::BuildAddressReply({0xC6120005, 4000}));
    ASSERT_TRUE(window.PumpUntil(
        [&] { return !window.audioAddresses.empty() && transmission.AudioSessionForTesting()->hasPublicAddress; },
        2000));
    EXPECT_EQ(window.audioAddresses[0].port, 4000);
}

}  // namespace
