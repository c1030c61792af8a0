#include "transport/pacing/video_pacer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace pacing {

VideoPacer::VideoPacer(size_t capacity) : slots_(capacity) { assert(capacity > 0); }

void VideoPacer::SetBudget(double bitsPerSecond, bool strict) {
    budgetBitsPerSecond_ = std::max(0.0, bitsPerSecond);
    strict_ = strict;
}

void VideoPacer::BeginFrame() {
    frameLeft_ = 0;
    frameBytes_ = 0;
    firstPending_ = true;
}

bool VideoPacer::Push(double now, const uint8_t* data, size_t length) {
    if (length > kMaxPacedBytes || count_ == slots_.size()) {
        ++refused_;
        return false;
    }
    PacedDatagram& slot = At(count_);
    slot.firstOfFrame = firstPending_;
    firstPending_ = false;
    slot.length = length;
    slot.queuedAt = now;
    slot.spacingSeconds = budgetBitsPerSecond_ > 0 ? length * 8 / budgetBitsPerSecond_ : 0;
    std::memcpy(slot.bytes.data(), data, length);
    ++count_;
    ++frameLeft_;
    frameBytes_ += length;
    return true;
}

void VideoPacer::EndFrame() {
    const double fastest = frameBytes_ * 8 / kLongestFrameSpreadSeconds;
    if (strict_ || budgetBitsPerSecond_ == 0 || fastest <= budgetBitsPerSecond_) return;
    for (size_t i = count_ - frameLeft_; i < count_; ++i) At(i).spacingSeconds = At(i).length * 8 / fastest;
}

bool VideoPacer::PassesStraight(double now, size_t length, bool* firstOfFrame) {
    if (count_ > 0) return false;
    if (budgetBitsPerSecond_ > 0) {
        if (strict_ || now < nextLeave_) return false;
        Spend(now, length * 8 / budgetBitsPerSecond_);
        frameBytes_ += length;
    }
    *firstOfFrame = firstPending_;
    firstPending_ = false;
    return true;
}

const PacedDatagram* VideoPacer::Due(double now) const {
    if (count_ == 0 || now < nextLeave_) return nullptr;
    return &At(0);
}

void VideoPacer::Pop(double now) {
    assert(count_ > 0);
    Spend(now, At(0).spacingSeconds);
    head_ = (head_ + 1) % slots_.size();
    --count_;
    frameLeft_ = std::min(frameLeft_, count_);
}

void VideoPacer::Spend(double now, double spacingSeconds) {
    nextLeave_ = std::max(nextLeave_, now - (strict_ ? 0 : kBurstCreditSeconds)) + spacingSeconds;
}

double VideoPacer::WaitSeconds(double now) const {
    if (count_ == 0) return -1;
    return std::max(0.0, nextLeave_ - now);
}

}  // namespace pacing
