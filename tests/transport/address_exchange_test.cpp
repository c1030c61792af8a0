// The scrambled public-address datagram and the server that answers it.
#include "tests/support/udp_peer.h"
#include "transport/address/address_datagram.h"
#include "transport/address/address_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
using namespace address_exchange;
using testing_support::kLoopback;
using testing_support::UdpPeer;

constexpr uint8_t kRequestPayload[] = {1, 0, 0, 0};

std::vector<uint8_t> Plain(std::vector<uint8_t> bytes) {
    Unscramble(bytes.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> Scrambled(std::vector<uint8_t> bytes) {
    Scramble(bytes.data(), bytes.size());
    return bytes;
}

bool Parses(std::vector<uint8_t> plain) {
    Datagram datagram;
    std::vector<uint8_t> wire = Scrambled(std::move(plain));
    return ParseDatagram(wire.data(), wire.size(), &datagram);
}

TEST(AddressDatagram, RequestForPayloadOneIsElevenBytesWithChecksumSix) {
    std::vector<uint8_t> wire;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, sizeof kRequestPayload, &wire));
    EXPECT_EQ(Plain(wire), (std::vector<uint8_t>{6, 0, 0, 0, 1, 4, 0, 1, 0, 0, 0}));
    EXPECT_NE(wire, Plain(wire)) << "bytes on the wire are scrambled";
}

TEST(AddressDatagram, ReplyRoundTripsAddressAndPortLeastSignificantByteFirst) {
    std::vector<uint8_t> wire = BuildAddressReply({0xC6120001, 0x2F0A});
    EXPECT_EQ(Plain(wire), (std::vector<uint8_t>{0x19, 0x01, 0, 0, 1, 6, 0, 0x01, 0x00, 0x12, 0xC6, 0x0A, 0x2F}));
    PublicAddress parsed{};
    ASSERT_TRUE(ParseAddressReply(wire.data(), wire.size(), &parsed));
    EXPECT_EQ(parsed.address, 0xC6120001u);
    EXPECT_EQ(parsed.port, 0x2F0A);
}

TEST(AddressDatagram, ReceiverChecksRejectMalformedDatagrams) {
    // checksum 1+6+0+ (payload) ; a valid reply payload of 6 bytes
    const std::vector<uint8_t> valid = {0x0E, 0, 0, 0, 1, 6, 0, 1, 2, 0, 0, 4, 0};
    ASSERT_TRUE(Parses(valid));

    EXPECT_FALSE(Parses({}));
    EXPECT_FALSE(Parses({0, 0, 0})) << "fewer than 4 bytes";
    EXPECT_TRUE(Parses({1, 0, 0, 0, 1, 0, 0})) << "empty payload is well formed";
    EXPECT_FALSE(Parses({0, 0, 0, 0, 0, 0})) << "checksum holds but fewer than 7 bytes";

    std::vector<uint8_t> badChecksum = valid;
    badChecksum[0] ^= 1;
    EXPECT_FALSE(Parses(badChecksum));

    std::vector<uint8_t> tooLong = valid;  // declares 7 payload bytes, carries 6
    tooLong[5] = 7;
    tooLong[0] += 1;
    EXPECT_FALSE(Parses(tooLong));

    std::vector<uint8_t> negative = {static_cast<uint8_t>(1 + 0xFF + 0xFF), 1, 0, 0, 1, 0xFF, 0xFF, 0};
    EXPECT_FALSE(Parses(negative)) << "a negative length is never valid";

    std::vector<uint8_t> trailing = valid;  // bytes after the payload are tolerated
    trailing.push_back(9);
    trailing[0] += 9;
    EXPECT_TRUE(Parses(trailing));
}

TEST(AddressDatagram, ReplyNeedsTypeOneAndSixPayloadBytes) {
    PublicAddress parsed{};
    std::vector<uint8_t> shortReply;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, 4, &shortReply));
    EXPECT_FALSE(ParseAddressReply(shortReply.data(), shortReply.size(), &parsed));

    const uint8_t payload[7] = {1, 2, 3, 4, 5, 6, 7};
    std::vector<uint8_t> otherType;
    ASSERT_TRUE(BuildDatagram(2, payload, 6, &otherType));
    EXPECT_FALSE(ParseAddressReply(otherType.data(), otherType.size(), &parsed));

    std::vector<uint8_t> longer;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, payload, 7, &longer));
    ASSERT_TRUE(ParseAddressReply(longer.data(), longer.size(), &parsed));
    EXPECT_EQ(parsed.address, 0x04030201u);
    EXPECT_EQ(parsed.port, 0x0605);
}

TEST(AddressDatagram, PayloadLongerThanSignedLengthIsRefused) {
    std::vector<uint8_t> payload(kMaxPayloadBytes + 1);
    std::vector<uint8_t> out = {42};
    EXPECT_FALSE(BuildDatagram(kTypePublicAddress, payload.data(), payload.size(), &out));
    EXPECT_EQ(out, std::vector<uint8_t>{42});
    EXPECT_TRUE(BuildDatagram(kTypePublicAddress, payload.data(), kMaxPayloadBytes, &out));
    Datagram parsed;
    EXPECT_TRUE(ParseDatagram(out.data(), out.size(), &parsed));
    EXPECT_EQ(parsed.payloadLength, kMaxPayloadBytes);
}

class AddressServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Start(kLoopback, 0)); }

    // Waits, bounded, until the server has counted `total` datagrams.
    void WaitForCount(uint64_t total) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < deadline) {
            const AddressServerCounters c = server_.Counters();
            if (c.requests + c.rejects >= total) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    CAddressServerThread server_;
};

TEST_F(AddressServerTest, AnswersRequestWithSenderAddressFromItsOwnPort) {
    UdpPeer client;
    std::vector<uint8_t> request;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, 4, &request));
    ASSERT_TRUE(client.SendTo(kLoopback, server_.Port(), request.data(), request.size()));
    auto reply = client.Receive(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->fromPort, server_.Port());
    PublicAddress parsed{};
    ASSERT_TRUE(ParseAddressReply(reply->bytes.data(), reply->bytes.size(), &parsed));
    EXPECT_EQ(parsed.address, kLoopback);
    EXPECT_EQ(parsed.port, client.Port());
    server_.Stop();  // the reply is counted after it left
    const AddressServerCounters counters = server_.Counters();
    EXPECT_EQ(counters.requests, 1u);
    EXPECT_EQ(counters.replies, 1u);
    EXPECT_EQ(counters.rejects, 0u);
}

TEST(AddressServerOnEveryInterface, AnswersFromTheAddressEachRequestWasSentTo) {
    constexpr uint32_t kSecondLoopback = 0x7F000002;
    CAddressServerThread server;
    ASSERT_TRUE(server.Start(0, 0));
    UdpPeer client;
    std::vector<uint8_t> request;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, 4, &request));
    for (const uint32_t address : {kSecondLoopback, kLoopback}) {
        ASSERT_TRUE(client.SendTo(address, server.Port(), request.data(), request.size()));
        const auto reply = client.Receive(2000);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->fromAddress, address);
        EXPECT_EQ(reply->fromPort, server.Port());
    }
}

TEST_F(AddressServerTest, IgnoresEverythingButValidRequests) {
    UdpPeer client;
    std::vector<uint8_t> badChecksum;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, 4, &badChecksum));
    badChecksum[0] ^= 0x55;
    std::vector<uint8_t> otherType;
    ASSERT_TRUE(BuildDatagram(7, kRequestPayload, 4, &otherType));
    const std::vector<uint8_t> reply = BuildAddressReply({kLoopback, client.Port()});
    const std::vector<uint8_t> plainRtp = {0x80, 0x66, 0, 1, 0, 0, 0, 0, 1, 2, 3, 4};

    for (const std::vector<uint8_t>& bytes : {badChecksum, otherType, reply, plainRtp}) {
        ASSERT_TRUE(client.SendTo(kLoopback, server_.Port(), bytes.data(), bytes.size()));
    }
    ASSERT_TRUE(client.SendTo(kLoopback, server_.Port(), nullptr, 0));
    WaitForCount(5);
    EXPECT_FALSE(client.Receive(50)) << "nothing is answered";
    const AddressServerCounters counters = server_.Counters();
    EXPECT_EQ(counters.rejects, 5u);
    EXPECT_EQ(counters.requests, 0u);
    EXPECT_EQ(counters.replies, 0u);
}

TEST_F(AddressServerTest, AFloodFromOneAddressGetsItsBudgetWhileOthersAreStillAnswered) {
    constexpr int kFlood = 2000;
    constexpr int kChunk = 100;  // within the server's receive buffer, so no request is dropped unseen
    UdpPeer flooder;
    UdpPeer other(0x7F000002, 0);
    std::vector<uint8_t> request;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, 4, &request));
    const auto start = std::chrono::steady_clock::now();
    for (int sent = 0; sent < kFlood;) {
        for (int i = 0; i < kChunk; ++i, ++sent)
            ASSERT_TRUE(flooder.SendTo(kLoopback, server_.Port(), request.data(), request.size()));
        WaitForCount(sent);
    }
    ASSERT_TRUE(other.SendTo(kLoopback, server_.Port(), request.data(), request.size()));
    auto reply = other.Receive(2000);
    ASSERT_TRUE(reply) << "another address keeps its own budget";
    PublicAddress parsed{};
    ASSERT_TRUE(ParseAddressReply(reply->bytes.data(), reply->bytes.size(), &parsed));
    EXPECT_EQ(parsed.address, 0x7F000002u);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    server_.Stop();  // the counters are final
    const AddressServerCounters counters = server_.Counters();
    ASSERT_EQ(counters.requests, kFlood + 1u);
    const uint64_t floodReplies = counters.replies - 1;
    const AnswerBudget budget;
    EXPECT_GE(floodReplies, budget.Burst());
    EXPECT_LE(floodReplies, budget.Burst() + budget.PerSecond() * seconds + 1);
    EXPECT_EQ(counters.limited, kFlood - floodReplies);
    EXPECT_EQ(flooder.ReceiveQueued().size(), floodReplies) << "an unanswered request sends nothing";
}

// A forger who sends requests in the players' address spends that address's
// budget and goes on; an engine of that address, asking from its own port
// meanwhile, is answered all the same.
TEST_F(AddressServerTest, ForgedRequestsInAnEnginesAddressDoNotLockTheEngineOut) {
    constexpr int kSpent = 400;     // far beyond the burst
    constexpr int kChunk = 100;     // within the server's receive buffer
    constexpr int kGoingOn = 1000;  // then about one a millisecond, for at most a second
    UdpPeer forger, engine;
    std::vector<uint8_t> request;
    ASSERT_TRUE(BuildDatagram(kTypePublicAddress, kRequestPayload, 4, &request));
    for (int sent = 0; sent < kSpent;) {
        for (int i = 0; i < kChunk; ++i, ++sent)
            ASSERT_TRUE(forger.SendTo(kLoopback, server_.Port(), request.data(), request.size()));
        WaitForCount(sent);
    }
    std::atomic<bool> answered{false};
    std::thread forgery([&] {
        for (int i = 0; i < kGoingOn && !answered; ++i) {
            forger.SendTo(kLoopback, server_.Port(), request.data(), request.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(engine.SendTo(kLoopback, server_.Port(), request.data(), request.size()));
    auto reply = engine.Receive(1000);
    answered = true;
    forgery.join();
    ASSERT_TRUE(reply) << "the engine was locked out by the forger";
    PublicAddress parsed{};
    ASSERT_TRUE(ParseAddressReply(reply->bytes.data(), reply->bytes.size(), &parsed));
    EXPECT_EQ(parsed.address, kLoopback);
    EXPECT_EQ(parsed.port, engine.Port());
}

TEST_F(AddressServerTest, StopsPromptlyWhileWaiting) {
    const auto start = std::chrono::steady_clock::now();
    server_.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(server_.Port(), 0);
}

}  // namespace
