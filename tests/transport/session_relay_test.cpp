// A session's two allocations over canned answers and time passed in:
// whatever fails the server in use (silence while media goes out, a refresh
// refused or unanswered, refused credentials), both sockets allocate on the
// next server and its relayed address is told; with no server left, the
// session stops sending to the servers.
#include "transport/session_relay.h"

#include "tests/transport/relay/canned_server.h"
#include "tests/transport/rtp/rtp_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {
using namespace relay_testing;

const rtp::RTPIPv4Address kSecondServer(0xC6120064, 3478);  // 198.18.0.100
const rtp::RTPIPv4Address kSecondRelayed(0xC6120064, 52000);
const Bytes kMedia(160, 0x80);
constexpr int64_t kStepMs = 20;  // a voice frame's time

struct RecordingSockets : SessionRelay::Sockets {
    struct Sent {
        bool rtp;
        rtp::RTPIPv4Address to;
        Bytes bytes;
    };
    std::vector<Sent> sent;
    std::vector<rtp::RTPIPv4Address> relayed;

    bool SendPieces(bool rtp, const rtp::RTPIPv4Address& to, std::span<const Piece> pieces) override {
        Bytes bytes;
        for (const Piece piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
        sent.push_back({rtp, to, std::move(bytes)});
        return true;
    }
    void OnRelayed(const rtp::RTPIPv4Address& address, const rtp::RTPIPv4Address&) override {
        relayed.push_back(address);
    }
    // The last STUN request the socket sent.
    StunMessage Request(bool rtp) const {
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
            if (it->rtp == rtp && it->bytes[0] == 0x00) return *StunMessage::Parse(it->bytes);
        ADD_FAILURE() << "no request";
        return *StunMessage::Parse(sent.back().bytes);
    }
};

Bytes GrantOf(const StunMessage& request, const rtp::RTPIPv4Address& relayed) {
    return Answer(request, StunClass::kSuccess, [&](StunWriter& w) {
        w.AddAddress(attribute::kXorRelayedAddress, relayed)
            .AddAddress(attribute::kXorMappedAddress, kMapped)
            .AddUint32(attribute::kLifetime, 600)
            .Add(attribute::kReservationToken, kToken);
    });
}

// One session's relay over two servers, the canned answers and the time.
struct Harness {
    void Give(bool rtp, const Bytes& answer) {
        RelayedDatagram relayed;
        relay.OnServerDatagram(rtp, answer, now, &relayed);
    }
    // Both sockets, challenged then granted, the RTCP socket one port above.
    void AllocateBoth(const rtp::RTPIPv4Address& relayed) {
        for (const bool rtp : {true, false}) {
            Give(rtp, Challenge(sockets.Request(rtp)));
            const rtp::RTPIPv4Address address(relayed.GetIP(), relayed.GetPort() + (rtp ? 0 : 1));
            Give(rtp, GrantOf(sockets.Request(rtp), address));
        }
    }
    // Media to the peer every frame, the timers run, nothing answered.
    void SendUnanswered(int64_t forMs) {
        for (const int64_t until = now + forMs; now < until; now += kStepMs) {
            relay.Send(true, kMedia, kPeer);
            relay.OnTimer(now);
        }
    }
    RecordingSockets sockets;
    rtp_testing::FixedRandom random;
    int64_t now = 1000;
    SessionRelay relay{sockets, random, {kServerSettings, {kSecondServer, "user", "secret"}}};
};

// Each case's time bounds how long finding the failure may take.
TEST(SessionRelay, AFailedServerIsGivenUpForTheNextWhoseRelayedAddressIsTold) {
    const int64_t kRefreshAtMs = 540000;  // a minute before the 600 s lifetime ends
    const struct {
        const char* what;
        std::function<void(Harness&)> fail;
        relay::RelayEventKind told;
    } cases[] = {
        {"silent while media goes out", [](Harness& t) { t.SendUnanswered(5000); },
         relay::RelayEventKind::kServerSilent},
        {"a refresh refused",
         [](Harness& t) {
             t.now += kRefreshAtMs;
             t.relay.OnTimer(t.now);
             t.Give(true, Refusal(t.sockets.Request(true), error::kAllocationMismatch));
         },
         relay::RelayEventKind::kAllocationLost},
        {"a refresh unanswered",
         [](Harness& t) {
             t.now += kRefreshAtMs;
             for (const int64_t until = t.now + 3200; t.now < until; t.now += kStepMs) t.relay.OnTimer(t.now);
         },
         relay::RelayEventKind::kRequestTimedOut},
    };
    for (const auto& c : cases) {
        Harness t;
        t.relay.Start(t.now);
        t.AllocateBoth(kRelayed);
        ASSERT_EQ(std::vector<rtp::RTPIPv4Address>{kRelayed}, t.sockets.relayed) << c.what;
        // A server over UDP speaks on the socket, never over a connection.
        EXPECT_TRUE(t.relay.IsServer(true, kServer, /*overConnection=*/false));
        EXPECT_FALSE(t.relay.IsServer(true, kServer, /*overConnection=*/true));
        EXPECT_FALSE(t.relay.IsServer(true, kSecondServer, false));
        c.fail(t);
        SessionRelayFigures figures = t.relay.Figures();
        EXPECT_EQ(1u, figures.failures) << c.what;
        EXPECT_EQ(c.told, figures.lastEvent) << c.what;
        EXPECT_FALSE(figures.relayed) << c.what << ": nothing goes out while no server holds us";

        t.relay.OnTimer(t.now);  // the failover waits for a timer: the failure came from inside an allocation
        EXPECT_EQ(kSecondServer, t.sockets.sent.back().to) << c.what;
        EXPECT_EQ(method::kAllocate, t.sockets.Request(true).Method()) << c.what;
        t.AllocateBoth(kSecondRelayed);
        figures = t.relay.Figures();
        EXPECT_TRUE(figures.relayed) << c.what;
        EXPECT_FALSE(figures.failed) << c.what;
        EXPECT_EQ(1u, figures.failovers) << c.what;
        EXPECT_EQ(2u, figures.allocations) << c.what;
        EXPECT_EQ(kServer, figures.failedServer) << c.what;
        EXPECT_EQ(kSecondServer, figures.server) << c.what;
        EXPECT_EQ((std::vector<rtp::RTPIPv4Address>{kRelayed, kSecondRelayed}), t.sockets.relayed) << c.what;
        EXPECT_EQ(4u, figures.rtp.unauthorized + figures.rtcp.unauthorized) << c.what << ": counts run from Start";
    }
}

TEST(SessionRelay, RefusedCredentialsOnTheLastServerEndTheRequests) {
    RecordingSockets sockets;
    rtp_testing::FixedRandom random;
    int64_t now = 0;
    SessionRelay alone{sockets, random, {kServerSettings}};
    alone.Start(now);
    RelayedDatagram relayed;
    alone.OnServerDatagram(true, Challenge(sockets.Request(true)), now, &relayed);
    alone.OnServerDatagram(true, Challenge(sockets.Request(true), "n2"), now, &relayed);
    const size_t sent = sockets.sent.size();
    for (const int64_t until = now + 10000; now < until; now += kStepMs) {
        alone.Send(true, kMedia, kPeer);
        alone.OnTimer(now);
    }
    const SessionRelayFigures figures = alone.Figures();
    EXPECT_TRUE(figures.failed);
    EXPECT_EQ(1u, figures.failures) << "one event for the host";
    EXPECT_EQ(relay::RelayEventKind::kAuthenticationFailed, figures.lastEvent);
    EXPECT_EQ(sent, sockets.sent.size()) << "no request storm, no media";
}

}  // namespace
