// Protection from several threads: libsrtp's one initialisation shared and
// shut once nothing holds it, a protector fed by an RTP and an RTCP thread,
// an unprotector taking keys while another thread opens packets.
#include "tests/transport/srtp/srtp_test_support.h"
#include "transport/srtp/library_hold.h"
#include "transport/srtp/protector.h"
#include "transport/srtp/unprotector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {
using namespace srtp;
using namespace srtp_test;

constexpr uint32_t kSsrc = 0x51DE0001;

TEST(ProtectionThreads, SessionsOnManyThreadsShareTheLibraryAndLeaveItShut) {
    ASSERT_EQ(LibraryHold::Holders(), 0);
    constexpr int kThreads = 4, kRounds = 8;
    std::atomic<int> roundTrips{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                const SenderKey key = KeyFor(FreshSecret(), 1);
                auto protector = Protector::Create(key);
                auto unprotector = Unprotector::Create();
                if (!protector || !unprotector || !unprotector->InstallEpoch(key, 0)) return;
                Datagram datagram = Rtp(1, kSsrc);
                Protect(*protector, datagram);
                if (unprotector->Unprotect(datagram.kind, datagram.Bytes(), 0).Accepted()) ++roundTrips;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(roundTrips, kThreads * kRounds);
    EXPECT_EQ(LibraryHold::Holders(), 0);
    EXPECT_TRUE(LibraryHold().Held()) << "libsrtp starts again after its shutdown";
}

TEST(ProtectionThreads, OneSenderFromTwoThreadsOneReceiverWhileKeysChange) {
    const std::vector<uint8_t> secret = FreshSecret();
    auto protector = Protector::Create(KeyFor(secret, 1));
    ASSERT_TRUE(protector);
    constexpr int kPackets = 300;
    std::vector<Datagram> rtp, rtcp;
    for (int i = 0; i < kPackets; ++i) {
        rtp.push_back(Rtp(static_cast<uint16_t>(i), kSsrc));
        rtcp.push_back(Rtcp(kSsrc));
    }
    auto protectAll = [&](std::vector<Datagram>& datagrams) {
        for (Datagram& datagram : datagrams) Protect(*protector, datagram);
    };
    std::thread rtcpThread(protectAll, std::ref(rtcp));
    protectAll(rtp);
    rtcpThread.join();

    // Later epochs arrive while the packets of the first are opened; the
    // clock stands still, so the first stays within its grace.
    auto unprotector = Unprotector::Create();
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 1), 0));
    std::thread keys([&] {
        for (uint32_t epoch = 2; epoch <= 3; ++epoch) EXPECT_TRUE(unprotector->InstallEpoch(KeyFor(secret, epoch), 0));
    });
    int accepted = 0;
    for (int i = 0; i < kPackets; ++i)
        for (Datagram* datagram : {&rtp[static_cast<size_t>(i)], &rtcp[static_cast<size_t>(i)]})
            accepted += unprotector->Unprotect(datagram->kind, datagram->Bytes(), 0).Accepted() ? 1 : 0;
    keys.join();
    EXPECT_EQ(accepted, 2 * kPackets);
}

}  // namespace
