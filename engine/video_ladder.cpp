#include "engine/video_ladder.h"

#include <algorithm>

int VideoLadder::FittingStep(double budget) const {
    for (int step = kLadderTop; step < kLadderNoVideo; ++step)
        if (kLadderSteps[step].bitsPerSecond * scale_ <= budget * kLadderFitShare) return step;
    return kLadderNoVideo;
}

void VideoLadder::Update(double now, double budget, double measured) {
    const bool settled = now - std::max(lastDown_, lastUp_) >= kLadderSettleSeconds;
    if (!Paused() && settled && measured > 0 &&
        kLadderSteps[step_].framesPerSecond == kLadderSteps[kLadderTop].framesPerSecond) {
        const double observed = measured / kLadderSteps[step_].bitsPerSecond;
        scale_ = std::clamp(scale_ * (1 - kLadderScaleWeight) + observed * kLadderScaleWeight, kLadderScaleLeast,
                            kLadderScaleGreatest);
    }
    const int fitting = FittingStep(budget);
    if (!placed_) {
        // Where the first budget puts it is a start, not a step down.
        placed_ = true;
        step_ = fitting;
    } else if (fitting > step_ && kLadderSteps[step_].bitsPerSecond * scale_ > budget * kLadderKeepShare) {
        step_ = fitting;
        lastDown_ = now;
    } else if (fitting < step_ && now - lastDown_ >= kLadderCleanSeconds &&
               now - lastUp_ >= kLadderStepUpSpacingSeconds) {
        --step_;
        lastUp_ = now;
    }
    if (step_ > kLadderTop) lastBelowTop_ = now;
}

bool FrameThinner::Keep(double rate, double cameraRate) {
    if (rate >= cameraRate) {
        credit_ = 1;
        return true;
    }
    constexpr double kRounding = 1e-9;
    credit_ += std::max(0.0, rate) / cameraRate;
    if (credit_ + kRounding < 1) return false;
    credit_ -= 1;
    return true;
}

bool VideoAllowance::Allows(double now, double budget) {
    debtBits_ = std::max(0.0, debtBits_ - budget * std::max(0.0, now - last_));
    last_ = now;
    return debtBits_ <= budget * depthSeconds_;
}
