// Sessions with their own poll threads on loopback, real clock: the window
// thread's view (data access from OnPollThreadStep, sends from several
// threads, prompt shutdown).
#include "tests/support/udp_peer.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/rtp/rtcp_bye.h"
#include "transport/rtp/rtcp_packet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using rtp_testing::kLoopback;
using Clock = std::chrono::steady_clock;

constexpr double kShortRTCPIntervalSeconds = 0.5;

// Takes every waiting packet on each poll step, as the transmission does.
class CollectingSession : public rtp_testing::RecordingSession {
public:
    // The poll thread calls this object's overrides: it stops before they go.
    ~CollectingSession() override { Destroy(); }

    std::vector<std::string> Payloads() {
        std::lock_guard<std::mutex> lock(mutex);
        return payloads_;
    }

protected:
    void OnPollThreadStep() override {
        RecordingSession::OnPollThreadStep();
        BeginDataAccess();
        for (bool more = GotoFirstSourceWithData(); more; more = GotoNextSourceWithData()) {
            while (rtp::RTPPacket* packet = GetNextPacket()) {
                std::lock_guard<std::mutex> lock(mutex);
                payloads_.emplace_back(reinterpret_cast<const char*>(packet->GetPayloadData()),
                                       packet->GetPayloadLength());
                DeletePacket(packet);
            }
        }
        EndDataAccess();
    }

private:
    std::vector<std::string> payloads_;
};

rtp::RTPSessionParams ThreadedParams() {
    auto params = rtp_testing::TestParams(nullptr, nullptr, true);
    params.SetMinimumRTCPTransmissionInterval(kShortRTCPIntervalSeconds);
    return params;
}

template <typename Done>
bool WaitFor(Done done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

TEST(ThreadedSessions, MediaFromSeveralThreadsAndReportsBothWays) {
    CollectingSession a, b;
    const uint16_t portA = rtp_testing::CreateOnFreePort(a, ThreadedParams());
    const uint16_t portB = rtp_testing::CreateOnFreePort(b, ThreadedParams());
    ASSERT_NE(portA, 0);
    ASSERT_NE(portB, 0);
    a.AddDestination({kLoopback, portB});
    b.AddDestination({kLoopback, portA});

    constexpr int kThreads = 2, kPerThread = 25;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&a, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string payload = std::to_string(t) + ":" + std::to_string(i);
                a.SendPacket(payload.data(), payload.size(), 96, false, 160);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        b.SendPacket("back", 4, 96, false, 160);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (auto& sender : senders) sender.join();

    ASSERT_TRUE(WaitFor([&] { return b.Payloads().size() == kThreads * kPerThread; }, 3000));
    ASSERT_TRUE(WaitFor([&] { return a.Payloads().size() == 10; }, 3000));
    // Each thread's packets arrive complete and in its own order.
    const auto payloads = b.Payloads();
    EXPECT_EQ(std::set<std::string>(payloads.begin(), payloads.end()).size(), payloads.size());
    std::vector<int> next(kThreads, 0);
    for (const std::string& p : payloads) {
        const int thread = p[0] - '0';
        EXPECT_EQ(std::stoi(p.substr(2)), next[thread]++);
    }

    const uint32_t ssrcA = a.GetLocalSSRC(), ssrcB = b.GetLocalSSRC();
    auto reportsSeen = [&](rtp::RTPSession& at, uint32_t ssrc) {
        at.BeginDataAccess();
        const rtp::RTPSourceData* source = at.GetSourceInfo(ssrc);
        size_t cnameLength = 0;
        const bool seen = source && source->SR_HasInfo() && source->RR_HasInfo() && source->SDES_GetCNAME(&cnameLength);
        at.EndDataAccess();
        return seen;
    };
    EXPECT_TRUE(WaitFor([&] { return reportsSeen(b, ssrcA) && reportsSeen(a, ssrcB); }, 5000));
    b.BeginDataAccess();
    const rtp::RTPSourceData* aAtB = b.GetSourceInfo(ssrcA);
    EXPECT_EQ(aAtB->INF_GetNumPacketsLost(), 0);
    EXPECT_EQ(aAtB->SR_GetPacketCount(), uint32_t{kThreads * kPerThread});
    b.EndDataAccess();
    EXPECT_GT(a.pollSteps.load(), 0);
    EXPECT_EQ(b.GetPacketsInUse(), 0u);
}

TEST(ThreadedSessions, ByeDestroyWakesThePollThreadAndSaysClose) {
    testing_support::UdpPeer peer;
    rtp_testing::RecordingSession session;
    ASSERT_NE(rtp_testing::CreateOnFreePort(session, rtp_testing::TestParams(nullptr, nullptr, true)), 0);
    // RTCP goes to a destination's port + 1: the peer.
    session.AddDestination({kLoopback, static_cast<uint16_t>(peer.Port() - 1)});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread is in its wait

    const auto start = Clock::now();
    session.BYEDestroy(0, "Close", 5);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_LT(took, 300);  // its wait lasts up to 1 s unless woken
    EXPECT_FALSE(session.IsActive());

    bool sawBye = false;
    for (int i = 0; i < 8 && !sawBye; ++i) {
        const auto datagram = peer.Receive(500);
        if (!datagram) break;
        rtp::RTCPCompoundPacket compound;
        if (!compound.Parse(datagram->bytes.data(), datagram->bytes.size())) continue;
        rtp::RTCPPacket packet;
        while (compound.GetNextPacket(&packet)) {
            rtp::RTCPBYEReader bye;
            if (packet.GetPacketType() != rtp::kRTCPBye || !bye.Parse(packet)) continue;
            sawBye = true;
            EXPECT_EQ(bye.GetSSRC(0), session.GetLocalSSRC());
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(bye.GetReason()), bye.GetReasonLength()), "Close");
        }
    }
    EXPECT_TRUE(sawBye);
}

TEST(ThreadedSessions, ThePollThreadDivertsRTPWhileTheFilterSaysSo) {
    CollectingSession a, b;
    const uint16_t portB = rtp_testing::CreateOnFreePort(b, ThreadedParams());
    ASSERT_NE(rtp_testing::CreateOnFreePort(a, ThreadedParams()), 0);
    ASSERT_NE(portB, 0);
    b.divertRTP = true;
    a.AddDestination({kLoopback, portB});
    a.SendPacket("early", 5, 96, false, 160);
    ASSERT_TRUE(WaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(b.mutex);
            return b.rawPackets.size() == 1;
        },
        2000));
    b.divertRTP = false;  // written here, read by b's poll thread
    for (int i = 0; i < 3; ++i) a.SendPacket("late", 4, 96, false, 160);
    // Probation holds the first until the second: then all three come.
    ASSERT_TRUE(WaitFor([&] { return b.Payloads().size() == 3; }, 2000));
    EXPECT_EQ(b.Payloads(), (std::vector<std::string>{"late", "late", "late"}));
    std::lock_guard<std::mutex> lock(b.mutex);
    EXPECT_EQ(b.rawPackets.size(), 1u);
}

}  // namespace
