// Video datagrams on their way to the socket, released at the video
// budget's pace so that a burst of video never sits in the uplink's queue
// in front of voice (which does not pass here). A frame is released no
// slower than over one frame interval, so frames never pile up behind each
// other. Time is passed in, in seconds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pacing {

// The longest datagram held (a video fragment and its header are shorter).
constexpr size_t kMaxPacedBytes = 600;
// Datagrams held at most: a few key frames' worth of fragments.
constexpr size_t kPacerCapacity = 128;
// A frame's datagrams leave within this long at the latest: a key frame
// over a thin budget takes a few frame intervals (15 frames/s) rather than
// burst into the uplink's queue ahead of voice, once for every peer.
constexpr double kFrameIntervalSeconds = 1.0 / 15;
constexpr double kLongestFrameSpreadSeconds = 4 * kFrameIntervalSeconds;
// The pacer's pace against the video budget on an uplink that is not
// congested: it smooths bursts, while the engine keeps the average to the
// budget by the frames it codes. There, a pacer that waited may also send
// what this long of its pace carries at once: a frame of a few usual ones
// leaves whole, and only a key frame's burst is spread.
constexpr double kPacingFactor = 2.5;
constexpr double kBurstCreditSeconds = kFrameIntervalSeconds;
// A datagram's copies to the peers leave spread evenly over its slot, so
// that on a thin uplink voice passes between them; at most this far apart,
// so that stopping never waits long.
constexpr double kLongestCopyGapSeconds = 0.1;

struct PacedDatagram {
    bool firstOfFrame = false;
    size_t length = 0;
    double spacingSeconds = 0;  // the wait after it leaves, at its frame's pace
    double queuedAt = 0;
    std::array<uint8_t, kMaxPacedBytes> bytes{};
};

class VideoPacer {
public:
    explicit VideoPacer(size_t capacity = kPacerCapacity);

    // Strict, every datagram leaves at the budget's pace however long its
    // frame takes: on a congested uplink a key frame sped up to leave
    // within kLongestFrameSpreadSeconds would queue there ahead of voice.
    void SetBudget(double bitsPerSecond, bool strict = false);
    double Budget() const { return budgetBitsPerSecond_; }

    // The datagrams pushed between BeginFrame and EndFrame are one frame's.
    // Each is due at once at the budget's pace; unless strict, EndFrame
    // quickens the pace of those left when the whole frame would not leave
    // within kLongestFrameSpreadSeconds. Push is false (and counted) when
    // there is no room or the datagram is too long: it is not sent.
    void BeginFrame();
    bool Push(double now, const uint8_t* data, size_t length);
    void EndFrame();

    // With nothing held, a datagram need not wait at all when unpaced, or
    // smoothing with the credit to cover it: true then, with whether it
    // opens its frame, and the caller sends it itself at `now`.
    bool PassesStraight(double now, size_t length, bool* firstOfFrame);

    // The datagram due at `now`, or null; Pop it once it is sent.
    const PacedDatagram* Due(double now) const;
    void Pop(double now);
    // Seconds until the next datagram is due (0: now); negative when none waits.
    double WaitSeconds(double now) const;

    size_t Queued() const { return count_; }
    // How long the oldest datagram held has waited (0: none held).
    double BacklogSeconds(double now) const { return count_ == 0 ? 0 : now - At(0).queuedAt; }
    uint64_t Refused() const { return refused_; }

private:
    // A datagram of `spacingSeconds` at the pace leaves at `now`.
    void Spend(double now, double spacingSeconds);
    PacedDatagram& At(size_t index) { return slots_[(head_ + index) % slots_.size()]; }
    const PacedDatagram& At(size_t index) const { return slots_[(head_ + index) % slots_.size()]; }

    std::vector<PacedDatagram> slots_;
    size_t head_ = 0;
    size_t count_ = 0;
    size_t frameLeft_ = 0;   // the last datagrams queued, of the newest frame
    size_t frameBytes_ = 0;  // of the newest frame, sent or not
    bool firstPending_ = false;
    double budgetBitsPerSecond_ = 0;
    bool strict_ = false;
    double nextLeave_ = 0;
    uint64_t refused_ = 0;
};

}  // namespace pacing
