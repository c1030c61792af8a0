// How the video steps down to fit its budget, one stream's bits/s: first
// the quantiser (today's 5 at the top, the codec's 31 at the bottom), then
// the frame rate (15, 10, 7.5, 5), then no video. Each step's rate is what
// the synthetic camera coded at 160 x 120, 15 frames/s with a key frame
// every 27th, scaled by how the camera in use measures against it. Steps
// down at once; up only once a clean spell has passed since the last step
// down, and then one step at a time, so that each step's real rate is
// seen before the next. Time in seconds.
#pragma once

#include <cstddef>

struct LadderStep {
    int quantiser;
    double framesPerSecond;
    double bitsPerSecond;
};

// Near the top, where a step up is the largest rise in rate, quantisers 6,
// 7 and 9 sit between measured neighbours (their rates interpolated
// geometrically), so that no step up raises the rate by more than a tenth
// or so: each step up probes the uplink, and a large one fills its queue.
constexpr LadderStep kLadderSteps[] = {
    {5, 15, 61000},  {6, 15, 55000},  {7, 15, 50000},  {8, 15, 45000},  {9, 15, 40000},
    {10, 15, 36000}, {13, 15, 29000}, {16, 15, 24000}, {20, 15, 20000}, {31, 15, 14000},
    {31, 10, 9500},  {31, 7.5, 7200}, {31, 5, 4800},
};
constexpr int kLadderTop = 0;
constexpr int kLadderNoVideo = static_cast<int>(sizeof kLadderSteps / sizeof kLadderSteps[0]);
// A step up waits this long after the last step down, and this long after
// the last step up.
constexpr double kLadderCleanSeconds = 5;
constexpr double kLadderStepUpSpacingSeconds = 0.5;
// A step fits when it takes at most this share of the budget: the rest is
// for key frames, retransmissions and RTCP. The step in force stays while
// it takes at most the larger share, so that a budget that wavers with what
// arrives does not step the video down and, a clean spell later, up again.
constexpr double kLadderFitShare = 0.75;
constexpr double kLadderKeepShare = 0.9;
// How the measured rate is weighed into the camera's scale, and its bounds
// (a picture of fine detail everywhere codes at up to ten times the table's
// rates); measured at full frame rate only, where key frames asked for by
// frozen viewers do not swamp the rest.
constexpr double kLadderScaleWeight = 0.2;
constexpr double kLadderScaleLeast = 0.2;
constexpr double kLadderScaleGreatest = 12;
// The measured rate covers the last second, taken once a second: it tells a
// step's rate only once the step has been in force this long.
constexpr double kLadderSettleSeconds = 2;

class VideoLadder {
public:
    // `measured`: what the step in force costs one stream, from what the
    // frames coded lately took (0: not known).
    void Update(double now, double budget, double measured);

    int Step() const { return step_; }
    bool Paused() const { return step_ == kLadderNoVideo; }
    int Quantiser() const {
        return Paused() ? kLadderSteps[kLadderNoVideo - 1].quantiser : kLadderSteps[step_].quantiser;
    }
    double FramesPerSecond() const { return Paused() ? 0 : kLadderSteps[step_].framesPerSecond; }
    // Whether the video was below its top step within the last clean spell.
    bool Limited(double now) const { return now - lastBelowTop_ < kLadderCleanSeconds; }
    // What the step in force is expected to carry.
    double TargetBitsPerSecond() const { return Paused() ? 0 : kLadderSteps[step_].bitsPerSecond * scale_; }

private:
    int FittingStep(double budget) const;

    int step_ = kLadderTop;
    bool placed_ = false;
    double scale_ = 1;
    double lastDown_ = -1e9;
    double lastUp_ = -1e9;
    double lastBelowTop_ = -1e9;
};

// Which captured frames a reduced frame rate codes: the share `rate` of the
// camera's `cameraRate`, evenly spread.
class FrameThinner {
public:
    bool Keep(double rate, double cameraRate);

private:
    double credit_ = 0;
};

// What the coder may still send at its budget (one stream's bits/s): frames
// are coded while what was coded beyond the budget stays under `depth`
// seconds of it, so the video sent keeps to the budget however the coder
// overshoots, while the pacer smooths each frame at a faster pace. Time in
// seconds.
class VideoAllowance {
public:
    explicit VideoAllowance(double depthSeconds) : depthSeconds_(depthSeconds) {}
    bool Allows(double now, double budget);
    void Spend(double bits) { debtBits_ += bits; }

private:
    const double depthSeconds_;
    double debtBits_ = 0;
    double last_ = 0;
};
