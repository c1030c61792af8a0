// Reordering, loss, lateness and the adaptive delay of the jitter buffer,
// driven by a simulated clock in milliseconds.
#include "voice/codec/jitter_buffer.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {
using namespace voice;

// A recognisable packet per sequence number.
std::array<uint8_t, kOpusPacketBytes> Packet(uint16_t sequence) {
    std::array<uint8_t, kOpusPacketBytes> bytes{};
    bytes[0] = static_cast<uint8_t>(sequence);
    bytes[1] = static_cast<uint8_t>(sequence >> 8);
    return bytes;
}

class JitterBufferTest : public ::testing::Test {
protected:
    Arrival Push(uint16_t sequence) { return buffer.Push(sequence, Packet(sequence), now); }
    // One playout tick: "f<seq>", "lost", "wait" or "quiet".
    std::string Pop() {
        const Playout out = buffer.Pop(now);
        now += kFrameMs;
        switch (out.kind) {
            case PlayoutKind::kFrame: return "f" + std::to_string(out.packet[0] | out.packet[1] << 8);
            case PlayoutKind::kLost:
                return out.next ? "lost>" + std::to_string(out.next[0] | out.next[1] << 8) : "lost";
            case PlayoutKind::kStretch: return "wait";
            case PlayoutKind::kQuiet: return "quiet";
        }
        return "?";
    }

    JitterBuffer buffer;
    int64_t now = 1000;
};

TEST_F(JitterBufferTest, PlaysOvertakenFramesInOrderAndDropsCopiesAndLateOnes) {
    EXPECT_EQ(Arrival::kAccepted, Push(11));
    EXPECT_EQ(Arrival::kAccepted, Push(10));
    EXPECT_EQ(Arrival::kDuplicate, Push(11));
    EXPECT_EQ(kMinTargetDelayMs + kFrameMs, buffer.TargetDelayMs());  // 10 came a frame late
    EXPECT_EQ("quiet", Pop());
    EXPECT_EQ("f10", Pop());
    EXPECT_EQ("f11", Pop());
    EXPECT_EQ(Arrival::kLate, Push(10));
    EXPECT_EQ(Arrival::kAccepted, Push(12));
    EXPECT_EQ("f12", Pop());
    EXPECT_EQ(0, buffer.BufferedFrames());
}

TEST_F(JitterBufferTest, DeclaresAGapLostOnceALaterFrameHasWaitedAndOffersItForRecovery) {
    Push(65534);
    EXPECT_EQ("f65534", Pop());
    now += kFrameMs;
    Push(0);  // 65535 missing, across the wrap
    EXPECT_EQ("lost>0", Pop());
    EXPECT_EQ("f0", Pop());
    EXPECT_EQ(Arrival::kLate, Push(65535));
}

TEST_F(JitterBufferTest, WaitsWhenNothingCameAndFallsQuietAfterALongerSilence) {
    Push(5);
    EXPECT_EQ("f5", Pop());
    for (int i = 0; i < kMaxStretchFrames; ++i) EXPECT_EQ("wait", Pop());
    EXPECT_EQ("quiet", Pop());
    EXPECT_FALSE(buffer.Playing());
    Push(6);  // the talker resumes where it left off
    EXPECT_EQ("f6", Pop());
}

TEST_F(JitterBufferTest, TargetDelayFollowsTheArrivalSpreadBetweenItsFloorAndCeiling) {
    for (uint16_t s = 0; s < 20; ++s, now += kFrameMs) Push(s);
    EXPECT_EQ(kMinTargetDelayMs, buffer.TargetDelayMs());
    now += 70;  // one frame 70 ms late
    Push(20);
    EXPECT_EQ(kFrameMs + 70, buffer.TargetDelayMs());
    now += 1000;  // a stall of a second
    Push(21);
    EXPECT_EQ(kMaxTargetDelayMs, buffer.TargetDelayMs());
}

TEST_F(JitterBufferTest, ASenderThatRestartedAtAnotherSequenceNumberIsHeardAfresh) {
    Push(100);
    EXPECT_EQ("f100", Pop());
    EXPECT_EQ(Arrival::kAccepted, Push(40000));
    EXPECT_EQ("f40000", Pop());

    // A pause long enough for playout to fall quiet, then a restart whose
    // numbers lie behind the playout position: a new stream, not late frames.
    while (buffer.Playing()) Pop();
    int played = 0;
    for (uint16_t s = 30000; s < 30100; ++s) {
        Push(s);
        played += Pop()[0] == 'f';
    }
    EXPECT_GE(played, 98);
    EXPECT_LE(buffer.BufferedFrames(), 2);

    // Only just behind the playout position is a frame late: a straggler of
    // the stream that went quiet, and one while playing.
    while (buffer.Playing()) Pop();
    EXPECT_EQ(Arrival::kLate, Push(30090));
    EXPECT_EQ(Arrival::kAccepted, Push(30100));
    EXPECT_EQ("f30100", Pop());
    EXPECT_EQ(Arrival::kLate, Push(30095));
}

TEST_F(JitterBufferTest, ShedsAStallsBacklogSoonAfterTheDelayTargetFallsWithoutLosingAFrame) {
    uint16_t sequence = 0;
    Push(sequence++);
    EXPECT_EQ("f0", Pop());
    for (int i = 0; i < 6; ++i) EXPECT_EQ("wait", Pop());  // a stall ...
    for (int i = 0; i < 14; ++i) Push(sequence++);         // ... then a burst
    const int backlog = buffer.BufferedFrames();
    int skipped = 0;
    // Steady again for 4.5 s: the stall leaves the transit window after
    // about 2 s, the surplus shows over the next 1.5 s and goes.
    for (int i = 0; i < 150; ++i) {
        Push(sequence++);
        const Playout out = buffer.Pop(now);
        now += kFrameMs;
        skipped += out.skipped;
        EXPECT_NE(PlayoutKind::kLost, out.kind);
    }
    EXPECT_GE(backlog, 10);
    EXPECT_LE(buffer.BufferedFrames() * kFrameMs, buffer.TargetDelayMs() + 2 * kFrameMs);
    EXPECT_EQ(skipped, backlog - buffer.BufferedFrames());  // every frame gone was skipped, none lost
}

TEST_F(JitterBufferTest, ComesBackToItsTargetAfterAStartUpBunch) {
    // The first frames reach the buffer together (a busy engine thread at
    // start-up), then every 30 ms, each a few ms before a playout tick.
    std::array<int64_t, 200> arrivals{};
    uint16_t sequence = 0;
    const auto push = [&] {
        arrivals[sequence] = now;
        Push(sequence++);
    };
    for (int i = 0; i < 3; ++i) push();
    now += 5;
    int lost = 0;
    int64_t waitMs = 0;
    for (int tick = 0; tick < 150; ++tick) {
        const Playout out = buffer.Pop(now);
        lost += out.kind == PlayoutKind::kLost;
        if (out.kind == PlayoutKind::kFrame) waitMs = now - arrivals[out.packet[0]];
        now += 25;
        push();
        now += 5;
    }
    // Back to the target 4.5 s after the start, no frame lost on the way.
    EXPECT_EQ(kMinTargetDelayMs, buffer.TargetDelayMs());
    EXPECT_LE(waitMs, buffer.TargetDelayMs() - kFrameMs + 5);
    EXPECT_EQ(0, lost);
}

}  // namespace
