// The relay client against a real relay server: coturn on a free loopback
// port with a configuration of this test's own (static user, no TLS, no
// CLI, loopback peers allowed here only), stopped at the end. Two sockets
// allocate an adjacent even/odd pair; a third plays a peer, receives relayed
// media from the relayed address and answers, and its answer reaches the
// client unwrapped with the peer's address; released, the pair is allocated
// again from the same socket through the server's 437 answers. Skipped where
// coturn is not installed.
#include "tests/support/udp_peer.h"
#include "tests/transport/relay/coturn_process.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/relay/allocation.h"
#include "transport/relay/binding_probe.h"
#include "transport/relay/relay_demux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace relay;
using testing_support::kLoopback;
using testing_support::UdpPeer;

namespace {
using Bytes = std::vector<uint8_t>;
constexpr int kDeadlineMs = 5000;
// Each round waits at least 2 ms on the sockets; this bounds the datagrams a loop sends.
constexpr int kMaxRounds = 2500;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A client socket: what the allocation sends goes out of it whole.
struct SocketPort : RelayPort {
    UdpPeer socket;
    std::vector<RelayEvent> events;

    bool SendToServer(const rtp::RTPIPv4Address& server, std::span<const Piece> pieces) override {
        Bytes datagram;
        for (const Piece piece : pieces) datagram.insert(datagram.end(), piece.begin(), piece.end());
        return socket.SendTo(server.GetIP(), server.GetPort(), datagram.data(), datagram.size());
    }
    void OnRelayEvent(const RelayEvent& event) override { events.push_back(event); }
    bool Saw(RelayEventKind kind) const {
        return std::any_of(events.begin(), events.end(), [kind](const RelayEvent& e) { return e.kind == kind; });
    }
};

class CoturnTest : public testing::Test {
protected:
    void SetUp() override {
        if (!relay_testing::CoturnProcess::Find()) GTEST_SKIP() << "coturn is not installed";
        ASSERT_TRUE(coturn_.Start());
        serverAddress_ = coturn_.Address();
    }

    // Reads every socket and runs the timers until `done` or the deadline.
    bool Pump(const std::function<bool()>& done, const std::function<void(SocketPort&, const Bytes&)>& fromServer) {
        const int64_t deadline = NowMs() + kDeadlineMs;
        for (int round = 0; !done(); ++round) {
            if (NowMs() > deadline || round == kMaxRounds) return false;
            for (SocketPort* socket : {&rtp, &rtcp}) {
                while (auto datagram = socket->socket.Receive(1)) {
                    if (rtp::RTPIPv4Address(datagram->fromAddress, datagram->fromPort) == serverAddress_)
                        fromServer(*socket, datagram->bytes);
                }
            }
            for (Allocation* allocation : {&*rtpAllocation, &*rtcpAllocation}) allocation->OnTimer(NowMs());
        }
        return true;
    }
    Allocation::Received ToAllocation(SocketPort& socket, const Bytes& bytes) {
        Allocation& allocation = &socket == &rtp ? *rtpAllocation : *rtcpAllocation;
        return allocation.OnServerDatagram(bytes, NowMs(), &relayed);
    }

    relay_testing::CoturnProcess coturn_;
    rtp::RTPIPv4Address serverAddress_;
    SocketPort rtp, rtcp;
    UdpPeer peer;
    rtp_testing::FixedRandom random{0x5EED};
    std::optional<Allocation> rtpAllocation, rtcpAllocation;
    RelayedDatagram relayed;
};
}  // namespace

TEST_F(CoturnTest, AnAdjacentPairIsAllocatedAndMediaIsRelayedBothWays) {
    // Coturn is up once it answers a Binding request, and sees our address.
    std::optional<BindingProbe> probe;
    const int64_t deadline = NowMs() + kDeadlineMs;
    while ((!probe || !probe->Mapped()) && NowMs() < deadline) {
        if (!probe || probe->Finished()) {
            probe.emplace(rtp, random, serverAddress_, false);
            probe->Start(NowMs());
        }
        if (auto datagram = rtp.socket.Receive(5)) probe->OnServerDatagram(datagram->bytes);
        probe->OnTimer(NowMs());
    }
    ASSERT_TRUE(probe && probe->Mapped()) << "no answer from coturn";
    EXPECT_EQ(*probe->Mapped(), rtp::RTPIPv4Address(kLoopback, rtp.socket.Port()));

    const RelayServer server{serverAddress_, relay_testing::kUser, relay_testing::kPassword};
    rtpAllocation.emplace(rtp, random, server, PortRequest{true, std::nullopt});
    rtcpAllocation.emplace(rtcp, random, server, PortRequest{});
    const auto route = [this](SocketPort& socket, const Bytes& bytes) { ToAllocation(socket, bytes); };
    rtpAllocation->Start(NowMs());
    ASSERT_TRUE(Pump([&] { return rtpAllocation->State() != AllocationState::kAllocating; }, route));
    ASSERT_EQ(rtpAllocation->State(), AllocationState::kAllocated);
    ASSERT_TRUE(rtpAllocation->Token()) << "no port kept for RTCP";
    const uint16_t rtpPort = rtpAllocation->RelayedAddress().GetPort();
    EXPECT_EQ(rtpPort % 2, 0);
    EXPECT_EQ(rtpAllocation->MappedAddress(), rtp::RTPIPv4Address(kLoopback, rtp.socket.Port()));

    rtcpAllocation.emplace(rtcp, random, server, PortRequest{false, rtpAllocation->Token()});
    rtcpAllocation->Start(NowMs());
    ASSERT_TRUE(Pump([&] { return rtcpAllocation->State() != AllocationState::kAllocating; }, route));
    ASSERT_EQ(rtcpAllocation->State(), AllocationState::kAllocated);
    EXPECT_EQ(rtcpAllocation->RelayedAddress().GetPort(), rtpPort + 1);
    EXPECT_EQ(rtpAllocation->Counters().Read().unauthorized, 1u);
    std::cout << "relayed ports " << rtpPort << "/" << rtpPort + 1 << ", allocated in "
              << rtpAllocation->Counters().Read().allocationMs << " ms and "
              << rtcpAllocation->Counters().Read().allocationMs << " ms\n";

    // Media to the peer until it arrives from the relayed address.
    const rtp::RTPIPv4Address peerAddress(kLoopback, peer.Port());
    ASSERT_TRUE(rtpAllocation->AddPeer(peerAddress, NowMs()));
    const Bytes media = {0x80, 0x60, 0x00, 0x01, 'm', 'e', 'd', 'i', 'a'};
    std::optional<testing_support::Datagram> arrived;
    ASSERT_TRUE(Pump(
        [&] {
            rtpAllocation->SendToPeer(peerAddress, media, NowMs());
            arrived = peer.Receive(5);
            return arrived.has_value();
        },
        route));
    EXPECT_EQ(arrived->bytes, media);
    EXPECT_EQ(rtp::RTPIPv4Address(arrived->fromAddress, arrived->fromPort), rtpAllocation->RelayedAddress());

    // The peer's answers until one comes back as ChannelData, unwrapped.
    const Bytes reply = {0x80, 0x60, 0x00, 0x02, 'r', 'e', 'p', 'l', 'y'};
    bool overChannel = false;
    ASSERT_TRUE(Pump(
        [&] {
            peer.SendTo(kLoopback, rtpPort, reply.data(), reply.size());
            return overChannel;
        },
        [&](SocketPort& socket, const Bytes& bytes) {
            if (ToAllocation(socket, bytes) != Allocation::Received::kRelayed) return;
            EXPECT_EQ(relayed.peer, peerAddress);
            EXPECT_EQ(Bytes(relayed.payload.begin(), relayed.payload.end()), reply);
            overChannel = Classify(bytes.data(), bytes.size()) == DatagramKind::kChannelData;
        }));
    EXPECT_GE(rtpAllocation->Counters().Read().datagramsIn, 1u);

    rtpAllocation->Close(NowMs());
    rtcpAllocation->Close(NowMs());
    EXPECT_TRUE(Pump([&] { return rtp.Saw(RelayEventKind::kClosed) && rtcp.Saw(RelayEventKind::kClosed); }, route));
    EXPECT_FALSE(rtp.Saw(RelayEventKind::kRequestTimedOut) || rtcp.Saw(RelayEventKind::kRequestTimedOut));

    // Allocating again from the same socket at once, as an engine created
    // anew would: the server still refuses the address (437) for about a
    // second, and the retries get through within 3 s.
    const int64_t restartMs = NowMs();
    rtpAllocation.emplace(rtp, random, server, PortRequest{true, std::nullopt});
    rtpAllocation->Start(restartMs);
    ASSERT_TRUE(Pump(
        [&] {
            const AllocationState state = rtpAllocation->State();
            return state != AllocationState::kAllocating && state != AllocationState::kWaitingToRetry;
        },
        route));
    EXPECT_EQ(rtpAllocation->State(), AllocationState::kAllocated);
    const int64_t recoveredMs = NowMs() - restartMs;
    EXPECT_LE(recoveredMs, 3000);
    std::cout << "allocated again from the same socket in " << recoveredMs << " ms after "
              << rtpAllocation->Counters().Read().mismatches << " answers 437\n";
}
