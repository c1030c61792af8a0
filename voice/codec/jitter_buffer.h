// Per-sender reordering and playout timing for voice frames. Pure logic: the
// caller supplies arrival and playout times in milliseconds of one clock.
//
// Frames are filed by sequence number in a fixed ring of slots. Playout asks
// for one frame every 30 ms. The wait before a frame is played (the target
// delay) follows the spread of recent transit times: one frame when packets
// arrive evenly, more when they bunch or overtake each other, 30..200 ms.
// The latest 1 in 32 arrivals are left out of that spread, and so are the
// older frames of a bunch that starts a talk spurt (a sender's pre-roll).
// A missing frame is declared lost once a later frame has waited as long as
// the target delay allows; with nothing buffered the playout stretches
// (conceals without moving on), and after a longer gap it goes quiet until
// the sender is heard again.
#pragma once

#include "voice/codec/voice_frame.h"

#include <array>
#include <cstdint>
#include <limits>
#include <span>

namespace voice {

inline constexpr int kMinTargetDelayMs = 30;
inline constexpr int kMaxTargetDelayMs = 200;
// Slots in the ring: 480 ms, more than the longest target delay.
inline constexpr int kJitterSlots = 16;
// Arrivals whose transit spread sets the target delay (about 2 s), and the
// share of the latest of them left out (1 in 32).
inline constexpr int kTransitWindow = 64;
inline constexpr int kOutlierShare = 32;
// Stretches with nothing buffered before playout falls quiet.
inline constexpr int kMaxStretchFrames = kMaxTargetDelayMs / kFrameMs + 1;
// When every frame played over this span (1.5 s) waited whole frames
// longer than the target delay asks, that surplus is skipped, one frame
// every kSkipSpacingTicks (90 ms): a stall's backlog or a start-up bunch is
// gone within a second or two, each skip a single frame's seam.
inline constexpr int kShrinkWindowTicks = 50;
inline constexpr int kSkipSpacingTicks = 3;
// A sequence number this far from the playout position starts a new stream
// (the sender restarted) instead of counting as late or early; once playout
// has fallen quiet, one more than the ring's length from where it stopped.
inline constexpr int kResyncDistance = 100;
// Frames this close together arrived in one go.
inline constexpr int kBunchedMs = 10;

enum class Arrival { kAccepted, kLate, kDuplicate };

enum class PlayoutKind {
    kFrame,    // `packet` is the frame to decode
    kLost,     // a frame is missing: conceal; `next` (may be null) follows it
    kStretch,  // the frame due has not come yet: conceal and wait for it
    kQuiet,    // not playing
};

struct Playout {
    PlayoutKind kind = PlayoutKind::kQuiet;
    const uint8_t* packet = nullptr;  // valid until the next Push or Pop
    const uint8_t* next = nullptr;
    bool skipped = false;  // a frame was dropped first to shorten the delay
};

class JitterBuffer {
public:
    Arrival Push(uint16_t sequence, std::span<const uint8_t, kOpusPacketBytes> opus, int64_t nowMs);
    Playout Pop(int64_t nowMs);

    int TargetDelayMs() const { return targetDelayMs_; }
    int BufferedFrames() const { return buffered_; }
    bool Playing() const { return playing_; }

private:
    struct Slot {
        bool used = false;
        uint16_t sequence = 0;
        int64_t arrivalMs = 0;
        std::array<uint8_t, kOpusPacketBytes> opus{};
    };

    void Reset();
    bool StartsNewStream(uint16_t sequence) const;
    void MeasureTransit(uint16_t sequence, int64_t nowMs);
    Slot* Find(uint16_t sequence);
    const Slot* Oldest() const;
    const Slot* FirstAfter(uint16_t sequence) const;
    void Drop(Slot& slot);
    bool TooDeep();

    std::array<Slot, kJitterSlots> slots_{};
    int buffered_ = 0;
    bool playing_ = false;
    bool heardBefore_ = false;
    uint16_t nextSequence_ = 0;  // while playing: the frame due next; else one past the last played
    int stretches_ = 0;
    int windowTicks_ = 0;
    static constexpr int64_t kNoWaitYet = std::numeric_limits<int64_t>::max();
    int64_t shortestWaitMs_ = kNoWaitYet;  // of the frames played in this span
    int skipsPending_ = 0;
    int ticksSinceSkip_ = 0;

    // Transit = arrival - sequence x 30 ms, on an unwrapped sequence count.
    bool haveReference_ = false;
    uint16_t lastSequence_ = 0;
    int64_t lastArrivalMs_ = 0;
    int64_t unwrapped_ = 0;
    std::array<int64_t, kTransitWindow> transits_{};
    int transitCount_ = 0;
    int transitIndex_ = 0;
    int targetDelayMs_ = kMinTargetDelayMs;
};

}  // namespace voice
