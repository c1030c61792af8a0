// Protection from several threads: libsrtp's one start shared and shut once
// nothing holds it, a protector fed by an RTP and an RTCP thread, an
// unprotector taking keys while another thread opens packets.
#include "tests/transport/srtp/srtp_test_support.h"
#include "transport/srtp/library_hold.h"
#include "transport/srtp/unprotector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {
using namespace srtp;
using namespace srtp_test;

constexpr uint32_t kSsrc = 0x51DE0001;

TEST(ProtectionThreads, ShareTheLibraryAndASenderAndAReceiver) {
    ASSERT_EQ(LibraryHold::Holders(), 0);
    const std::vector<uint8_t> secret = FreshSecret();
    constexpr int kPackets = 300;
    std::vector<Datagram> rtp, rtcp;
    for (int i = 0; i < kPackets; ++i) rtp.push_back(Rtp(static_cast<uint16_t>(i), kSsrc)), rtcp.push_back(Rtcp(kSsrc));
    std::atomic<int> roundTrips{0};
    {
        auto protector = ProtectorFor(KeyFor(secret, 1));
        auto protectAll = [&](std::vector<Datagram>& datagrams) {
            for (Datagram& datagram : datagrams) Protect(*protector, datagram);
        };
        // Others come and go meanwhile, each with a session of its own.
        auto others = [&] {
            for (int round = 0; round < 8; ++round) {
                const SenderKey key = KeyFor(FreshSecret(), 1);
                auto other = ProtectorFor(key);
                auto unprotector = Unprotector::Create();
                ASSERT_TRUE(unprotector->InstallEpoch(key, 0));
                Datagram datagram = Rtp(1, kSsrc);
                roundTrips += unprotector->Unprotect(datagram.kind, Protect(*other, datagram).Bytes(), 0).Accepted();
            }
        };
        std::thread rtcpThread(protectAll, std::ref(rtcp)), otherThread(others);
        protectAll(rtp);
        rtcpThread.join();
        otherThread.join();
    }
    // Later epochs come while the first one's packets are opened; the clock
    // stands still, so the first stays within its grace.
    auto unprotector = Unprotector::Create();
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 1), 0));
    std::thread keys([&] {
        for (uint32_t epoch = 2; epoch <= 3; ++epoch) EXPECT_TRUE(unprotector->InstallEpoch(KeyFor(secret, epoch), 0));
    });
    int accepted = 0;
    for (int i = 0; i < kPackets; ++i)
        for (Datagram* datagram : {&rtp[static_cast<size_t>(i)], &rtcp[static_cast<size_t>(i)]})
            accepted += unprotector->Unprotect(datagram->kind, datagram->Bytes(), 0).Accepted();
    keys.join();
    EXPECT_EQ(accepted, 2 * kPackets);
    EXPECT_EQ(roundTrips, 8);
    unprotector.reset();
    EXPECT_EQ(LibraryHold::Holders(), 0);
    EXPECT_TRUE(LibraryHold().Held()) << "libsrtp starts again after its shutdown";
}

}  // namespace
