// One allocation driven by canned answers of a relay server and time passed
// in: credentials, nonces, retransmission, refreshes, peers, media framing,
// 437 retries, redirects, release and a silent server.
#include "transport/relay/allocation.h"

#include "tests/transport/relay/canned_server.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/relay/channel_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace relay;

namespace {
using namespace relay_testing;

Bytes Text(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }
Bytes Value(std::optional<std::span<const uint8_t>> value) {
    return value ? Bytes(value->begin(), value->end()) : Bytes{};
}

class AllocationTest : public testing::Test {
protected:
    Allocation::Received Give(const Bytes& answer) { return subject->OnServerDatagram(answer, now, &relayed); }
    Allocation::Received Reply(const StunMessage& request, StunClass answerClass,
                               const std::function<void(StunWriter&)>& fill = {}, std::span<const uint8_t> key = kKey) {
        return Give(Answer(request, answerClass, fill, key));
    }
    void Refuse(const StunMessage& request, int code, const std::function<void(StunWriter&)>& fill = {}) {
        Give(Refusal(request, code, fill));
    }
    void Challenge() { Give(relay_testing::Challenge(port.Request())); }
    void Grant(uint32_t lifetime = 600) { Give(relay_testing::Grant(port.Request(), lifetime)); }
    void Allocate() {
        subject->Start(now);
        Challenge();
        Grant();
        ASSERT_EQ(subject->State(), AllocationState::kAllocated);
    }
    // Every millisecond up to `until`.
    void RunUntil(int64_t until) {
        for (; now <= until; ++now) allocation.OnTimer(now);
        now = until;
    }
    size_t EventsOf(RelayEventKind kind) const {
        return std::count_if(port.events.begin(), port.events.end(),
                             [kind](const RelayEvent& e) { return e.kind == kind; });
    }

    RecordingPort port;
    rtp_testing::FixedRandom random;
    RelayServer server = kServerSettings;
    Allocation allocation{port, random, server, PortRequest{true, std::nullopt}};
    Allocation* subject = &allocation;  // what the answers go to
    RelayedDatagram relayed;
    int64_t now = 0;
};
}  // namespace

TEST_F(AllocationTest, CredentialsFollowTheChallengeAndOnlyASignedAnswerCounts) {
    allocation.Start(now);
    const StunMessage first = port.Request();
    EXPECT_EQ(first.Method(), method::kAllocate);
    EXPECT_FALSE(first.Find(attribute::kUsername) || first.HasIntegrity());
    EXPECT_EQ(Value(first.Find(attribute::kEvenPort)), Bytes{0x80}) << "even port, the next one kept";
    EXPECT_EQ(Value(first.Find(attribute::kRequestedTransport)), (Bytes{17, 0, 0, 0}));

    Challenge();
    const StunMessage second = port.Request();
    EXPECT_NE(second.Id(), first.Id());
    EXPECT_EQ(second.Text(attribute::kUsername), "user");
    EXPECT_EQ(second.Text(attribute::kRealm), "room");
    EXPECT_EQ(second.Text(attribute::kNonce), "n1");
    EXPECT_TRUE(second.IntegrityMatches(kKey));

    now = 12;
    const uint8_t wrongKey[] = {9};
    const auto grant = [](StunWriter& w) { w.AddAddress(attribute::kXorRelayedAddress, kRelayed); };
    EXPECT_EQ(Reply(second, StunClass::kSuccess, grant, {}), Allocation::Received::kDropped) << "unsigned";
    EXPECT_EQ(Reply(second, StunClass::kSuccess, grant, wrongKey), Allocation::Received::kDropped);
    EXPECT_EQ(allocation.State(), AllocationState::kAllocating);
    Grant();
    EXPECT_EQ(allocation.State(), AllocationState::kAllocated);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kAllocated);
    EXPECT_EQ(allocation.RelayedAddress(), kRelayed);
    EXPECT_EQ(allocation.MappedAddress(), kMapped);
    EXPECT_EQ(allocation.Token(), kToken);
    const RelayFigures figures = allocation.Counters().Read();
    EXPECT_EQ(figures.unauthorized, 1u);
    EXPECT_EQ(figures.allocationMs, 12);
}

TEST_F(AllocationTest, TheSecondSocketAsksForThePortKeptForIt) {
    Allocation rtcp(port, random, server, PortRequest{false, kToken});
    rtcp.Start(now);
    EXPECT_EQ(Value(port.Request().Find(attribute::kReservationToken)), Bytes(kToken.begin(), kToken.end()));
    EXPECT_FALSE(port.Request().Find(attribute::kEvenPort));
}

TEST_F(AllocationTest, WrongCredentialsGiveOneEventAndNoMoreRequests) {
    allocation.Start(now);
    Challenge();
    Challenge();
    RunUntil(10000);
    EXPECT_EQ(port.sent.size(), 2u);
    ASSERT_EQ(port.events.size(), 1u);
    EXPECT_EQ(port.events[0].kind, RelayEventKind::kAuthenticationFailed);
    EXPECT_EQ(allocation.State(), AllocationState::kFailed);
    EXPECT_EQ(allocation.Counters().Read().unauthorized, 2u);

    RelayServer tooLong = server;
    tooLong.username.assign(Allocation::kMaxUsernameBytes + 1, 'u');
    Allocation unusable(port, random, tooLong, {});
    unusable.Start(now);
    EXPECT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kAuthenticationFailed);
}

TEST_F(AllocationTest, RequestsAreSentAgainAfterDoublingWaitsAndGivenUpAfter3Point1Seconds) {
    for (const RelayTransport transport : {RelayTransport::kUdp, RelayTransport::kTcp}) {
        RecordingPort quiet;
        RelayServer over = server;
        over.transport = transport;
        Allocation unanswered(quiet, random, over, {});
        std::vector<int64_t> sendTimes;
        int64_t givenUpAt = -1;
        for (int64_t t = 0; t <= 4000; ++t) {
            if (t == 0) unanswered.Start(t);
            unanswered.OnTimer(t);
            if (quiet.sent.size() > sendTimes.size()) sendTimes.push_back(t);
            if (givenUpAt < 0 && !quiet.events.empty()) givenUpAt = t;
        }
        const std::vector<int64_t> expected =
            transport == RelayTransport::kUdp ? std::vector<int64_t>{0, 100, 300, 700, 1500} : std::vector<int64_t>{0};
        EXPECT_EQ(sendTimes, expected);
        EXPECT_EQ(givenUpAt, 3100);
        ASSERT_EQ(quiet.events.size(), 1u);
        EXPECT_EQ(quiet.events[0].kind, RelayEventKind::kRequestTimedOut);
        EXPECT_EQ(quiet.events[0].method, method::kAllocate);
    }
}

TEST_F(AllocationTest, RefreshesComeAMinuteEarlyOrAtHalfAShortLifetimeAndTakeANewNonceAtOnce) {
    Allocate();
    RunUntil(539999);
    EXPECT_EQ(port.sent.size(), 2u);
    allocation.OnTimer(now = 540000);
    const StunMessage refresh = port.Request();
    EXPECT_EQ(refresh.Method(), method::kRefresh);
    EXPECT_FALSE(refresh.Find(attribute::kLifetime));

    Refuse(refresh, 438, [](StunWriter& w) { w.AddText(attribute::kRealm, "room").AddText(attribute::kNonce, "n2"); });
    const StunMessage again = port.Request();
    EXPECT_EQ(again.Method(), method::kRefresh);
    EXPECT_EQ(again.Text(attribute::kNonce), "n2") << "sent again at once with the new nonce";
    EXPECT_TRUE(again.IntegrityMatches(kKey));
    Reply(again, StunClass::kSuccess, [](StunWriter& w) { w.AddUint32(attribute::kLifetime, 100); });
    EXPECT_EQ(allocation.NextTimerMs(), now + 50000);
    const RelayFigures figures = allocation.Counters().Read();
    EXPECT_EQ(figures.staleNonces, 1u);
    EXPECT_EQ(figures.refreshes, 1u);

    allocation.OnTimer(now += 50000);
    Refuse(port.Request(), 437);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kAllocationLost);
    EXPECT_EQ(allocation.State(), AllocationState::kFailed);
}

TEST_F(AllocationTest, PeersAreSentToByIndicationUntilBoundThenByChannelAndAskedForAgainEvery240Seconds) {
    Allocate();
    ASSERT_TRUE(allocation.AddPeer(kPeer, now));
    const StunMessage permission = port.Request(2), bind = port.Request(1);
    EXPECT_EQ(permission.Method(), method::kCreatePermission);
    EXPECT_EQ(permission.Address(attribute::kXorPeerAddress), rtp::RTPIPv4Address(kPeer.GetIP(), 0));
    EXPECT_EQ(bind.Method(), method::kChannelBind);
    EXPECT_EQ(bind.ChannelNumber(), kFirstChannel);
    EXPECT_EQ(bind.Address(attribute::kXorPeerAddress), kPeer);

    const Bytes media = Text("media");
    ASSERT_TRUE(allocation.SendToPeer(kPeer, media, now));
    const StunMessage indication = port.Request();
    EXPECT_EQ(indication.Method(), method::kSend);
    EXPECT_EQ(indication.Class(), StunClass::kIndication);
    EXPECT_EQ(indication.Address(attribute::kXorPeerAddress), kPeer);
    EXPECT_EQ(Value(indication.Find(attribute::kData)), media);

    Reply(permission, StunClass::kSuccess);
    Reply(bind, StunClass::kSuccess);
    ASSERT_TRUE(allocation.SendToPeer(kPeer, media, now));
    EXPECT_EQ(port.sent.back().bytes, (Bytes{0x40, 0x00, 0x00, 0x05, 'm', 'e', 'd', 'i', 'a'}));
    EXPECT_FALSE(allocation.SendToPeer(rtp::RTPIPv4Address(kPeer.GetIP(), 6001), media, now)) << "not added";

    const Bytes fromPeer = {0x40, 0x00, 0x00, 0x02, 'h', 'i', 0, 0};
    ASSERT_EQ(allocation.OnServerDatagram(fromPeer, now, &relayed), Allocation::Received::kRelayed);
    EXPECT_EQ(relayed.peer, kPeer);
    EXPECT_EQ(Bytes(relayed.payload.begin(), relayed.payload.end()), Text("hi"));
    const Bytes otherChannel = {0x40, 0x01, 0x00, 0x00};
    EXPECT_EQ(allocation.OnServerDatagram(otherChannel, now, &relayed), Allocation::Received::kDropped);
    // From the peer's address on another port (a translator's new mapping),
    // and from an address without permission.
    for (const uint32_t address : {kPeer.GetIP(), kPeer.GetIP() + 1}) {
        const Bytes data = StunWriter(method::kData, StunClass::kIndication, {})
                               .AddAddress(attribute::kXorPeerAddress, rtp::RTPIPv4Address(address, 6001))
                               .Add(attribute::kData, media)
                               .Finish();
        const bool permitted = address == kPeer.GetIP();
        EXPECT_EQ(allocation.OnServerDatagram(data, now, &relayed),
                  permitted ? Allocation::Received::kRelayed : Allocation::Received::kDropped);
        if (permitted) {
            EXPECT_EQ(relayed.peer, rtp::RTPIPv4Address(kPeer.GetIP(), 6001));
        }
    }
    const RelayFigures figures = allocation.Counters().Read();
    EXPECT_EQ(figures.datagramsOut, 2u);
    EXPECT_EQ(figures.bytesOut, 10u);
    EXPECT_EQ(figures.datagramsIn, 2u);
    EXPECT_EQ(figures.bytesIn, 7u);

    const size_t sent = port.sent.size();
    const int64_t answered = now;
    RunUntil(answered + Allocation::kPeerRefreshMs - 1);
    EXPECT_EQ(port.sent.size(), sent);
    allocation.OnTimer(now = answered + Allocation::kPeerRefreshMs);
    ASSERT_EQ(port.sent.size(), sent + 2);
    EXPECT_EQ(port.Request(2).Method(), method::kCreatePermission);
    EXPECT_EQ(port.Request(1).Method(), method::kChannelBind);
    EXPECT_EQ(port.Request(1).ChannelNumber(), kFirstChannel);
}

TEST_F(AllocationTest, ChannelDataToATcpServerIsPaddedToFourBytes) {
    server.transport = RelayTransport::kTcp;
    Allocation overTcp(port, random, server, {});
    subject = &overTcp;
    Allocate();
    ASSERT_TRUE(overTcp.AddPeer(kPeer, now));
    Reply(port.Request(), StunClass::kSuccess);
    ASSERT_TRUE(overTcp.SendToPeer(kPeer, Text("media"), now));
    EXPECT_EQ(port.sent.back().bytes, (Bytes{0x40, 0x00, 0x00, 0x05, 'm', 'e', 'd', 'i', 'a', 0, 0, 0}));
}

TEST_F(AllocationTest, AMismatchIsTriedAgainEverySecondTwiceThenNewPortsAreAskedFor) {
    allocation.Start(now);
    Challenge();
    Refuse(port.Request(), 437);
    RunUntil(999);
    EXPECT_EQ(port.sent.size(), 2u);
    RunUntil(1000);
    ASSERT_EQ(port.sent.size(), 3u);
    EXPECT_TRUE(port.Request().IntegrityMatches(kKey));
    Refuse(port.Request(), 437);
    RunUntil(2000);
    ASSERT_EQ(port.sent.size(), 4u);
    Refuse(port.Request(), 437);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kNewPortsNeeded);
    EXPECT_EQ(allocation.Counters().Read().mismatches, 3u);

    // A server that lets go of the old allocation in time.
    Allocation recovering(port, random, server, {});
    subject = &recovering;
    recovering.Start(now = 0);
    Challenge();
    Refuse(port.Request(), 437);
    for (; now <= 1000; ++now) recovering.OnTimer(now);
    Grant();
    EXPECT_EQ(recovering.State(), AllocationState::kAllocated);
}

TEST_F(AllocationTest, AlternateServersAreFollowedNeitherBackNorToLoopback) {
    const rtp::RTPIPv4Address alternate(0xC6120009, 3478);
    const auto redirectTo = [&](const rtp::RTPIPv4Address& to) {
        Refuse(port.Request(), 300, [&](StunWriter& w) { w.AddAddress(attribute::kAlternateServer, to); });
    };
    allocation.Start(now);
    Challenge();
    redirectTo(alternate);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kRedirected);
    EXPECT_EQ(port.sent.back().to, alternate);
    EXPECT_FALSE(port.Request().HasIntegrity()) << "the new server's realm and nonce come first";
    EXPECT_EQ(allocation.Server(), alternate);
    redirectTo(kServer);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kRefused);
    EXPECT_EQ(allocation.State(), AllocationState::kFailed);

    const rtp::RTPIPv4Address loopback(0x7F000001, 3478), otherLoopback(0x7F000002, 3478);
    for (const auto& [first, to, followed] :
         {std::tuple(kServer, loopback, false), std::tuple(loopback, otherLoopback, true)}) {
        RelayServer start = server;
        start.address = first;
        Allocation redirected(port, random, start, {});
        subject = &redirected;
        redirected.Start(now);
        redirectTo(to);
        EXPECT_EQ(redirected.State() == AllocationState::kAllocating, followed);
    }
}

TEST_F(AllocationTest, CloseReleasesTheAllocationWithLifetimeZero) {
    Allocate();
    allocation.Close(now);
    const StunMessage release = port.Request();
    EXPECT_EQ(release.Method(), method::kRefresh);
    EXPECT_EQ(release.Uint32(attribute::kLifetime), 0u);
    EXPECT_TRUE(release.IntegrityMatches(kKey));
    EXPECT_EQ(allocation.State(), AllocationState::kClosing);
    Reply(release, StunClass::kSuccess, [](StunWriter& w) { w.AddUint32(attribute::kLifetime, 0); });
    EXPECT_EQ(allocation.State(), AllocationState::kClosed);
    EXPECT_EQ(port.events.back().kind, RelayEventKind::kClosed);
}

TEST_F(AllocationTest, AServerSilentWhileMediaGoesOutIsAskedThenReportedWithinFiveSeconds) {
    AllocateWithBoundPeer(allocation, port, now);
    ASSERT_EQ(allocation.State(), AllocationState::kAllocated);
    const int64_t lastHeard = now;
    const size_t sent = port.sent.size();
    for (; now <= lastHeard + 5000; now += 20) {
        allocation.SendToPeer(kPeer, Text("media"), now);
        allocation.OnTimer(now);
    }
    EXPECT_EQ(EventsOf(RelayEventKind::kServerSilent), 1u);
    EXPECT_EQ(allocation.State(), AllocationState::kFailed);
    const size_t probes = std::count_if(port.sent.begin() + static_cast<ptrdiff_t>(sent), port.sent.end(),
                                        [](const RecordingPort::Sent& s) { return s.bytes[0] == 0x00; });
    EXPECT_EQ(probes, 5u) << "one Binding request and its retransmissions";
}
