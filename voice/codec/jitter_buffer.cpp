#include "voice/codec/jitter_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace voice {

Arrival JitterBuffer::Push(uint16_t sequence, std::span<const uint8_t, kOpusPacketBytes> opus, int64_t nowMs) {
    if (StartsNewStream(sequence)) Reset();
    MeasureTransit(sequence, nowMs);
    if (heardBefore_) {
        const int distance = SequenceDistance(sequence, nextSequence_);
        if (distance < 0) return Arrival::kLate;
        if (distance >= kJitterSlots) {
            // Far ahead of playout: what is buffered is older than anything
            // worth waiting for.
            for (Slot& slot : slots_)
                if (slot.used) Drop(slot);
            playing_ = false;
            heardBefore_ = false;
        }
    }
    Slot& slot = slots_[sequence % kJitterSlots];
    if (slot.used) {
        if (slot.sequence == sequence) return Arrival::kDuplicate;
        Drop(slot);  // a stale frame from before a jump
    }
    slot.used = true;
    slot.sequence = sequence;
    slot.arrivalMs = nowMs;
    std::memcpy(slot.opus.data(), opus.data(), kOpusPacketBytes);
    ++buffered_;
    return Arrival::kAccepted;
}

Playout JitterBuffer::Pop(int64_t nowMs) {
    const int waitMs = targetDelayMs_ - kFrameMs;
    if (!playing_) {
        const Slot* oldest = Oldest();
        if (!oldest || nowMs - oldest->arrivalMs < waitMs) return {};
        playing_ = true;
        heardBefore_ = true;
        nextSequence_ = oldest->sequence;
        stretches_ = 0;
        windowTicks_ = 0;
        shortestWaitMs_ = kNoWaitYet;
    }
    Playout out;
    if (TooDeep()) {
        if (Slot* due = Find(nextSequence_)) Drop(*due);
        ++nextSequence_;
        out.skipped = true;
    }
    if (Slot* due = Find(nextSequence_)) {
        ++nextSequence_;
        stretches_ = 0;
        shortestWaitMs_ = std::min(shortestWaitMs_, nowMs - due->arrivalMs);
        due->used = false;  // its bytes stay readable until the next call
        --buffered_;
        out.kind = PlayoutKind::kFrame;
        out.packet = due->opus.data();
        return out;
    }
    shortestWaitMs_ = 0;  // nothing to spare at this tick
    const Slot* later = FirstAfter(nextSequence_);
    if (later && nowMs - later->arrivalMs >= waitMs) {
        ++nextSequence_;
        stretches_ = 0;
        out.kind = PlayoutKind::kLost;
        if (const Slot* next = Find(nextSequence_)) out.next = next->opus.data();
        return out;
    }
    if (!later && ++stretches_ > kMaxStretchFrames) {
        // The talker paused: its next words start a new measure of transit.
        playing_ = false;
        haveReference_ = false;
        transitCount_ = 0;
        return {};
    }
    out.kind = PlayoutKind::kStretch;
    return out;
}

void JitterBuffer::Reset() { *this = JitterBuffer{}; }

// A sender that restarted begins at an unrelated sequence number. While
// playing, that is one far from the latest arrival or the playout position;
// once quiet, one the ring could not have held on either side of where the
// sound stopped: only a straggler of the old stream counts as late then.
bool JitterBuffer::StartsNewStream(uint16_t sequence) const {
    const auto far = [sequence](uint16_t from, int limit) {
        const int distance = SequenceDistance(sequence, from);
        return distance > limit || distance < -limit;
    };
    if (haveReference_ && far(lastSequence_, kResyncDistance)) return true;
    if (!heardBefore_) return false;
    return far(nextSequence_, playing_ ? kResyncDistance : kJitterSlots);
}

void JitterBuffer::MeasureTransit(uint16_t sequence, int64_t nowMs) {
    // Frames that come together and in order before playout starts are a
    // talker's pre-roll, sent at once when speech was detected: the newest
    // of them tells the transit, the others were held back, not delayed.
    const bool preRoll = !playing_ && haveReference_ && sequence == static_cast<uint16_t>(lastSequence_ + 1) &&
                         nowMs - lastArrivalMs_ < kBunchedMs && !Find(sequence);
    if (preRoll) {
        transitIndex_ = (transitIndex_ + kTransitWindow - 1) % kTransitWindow;
        --transitCount_;
    }
    if (haveReference_) unwrapped_ += SequenceDistance(sequence, lastSequence_);
    haveReference_ = true;
    lastSequence_ = sequence;
    lastArrivalMs_ = nowMs;
    transits_[static_cast<size_t>(transitIndex_)] = nowMs - unwrapped_ * kFrameMs;
    transitIndex_ = (transitIndex_ + 1) % kTransitWindow;
    transitCount_ = std::min(transitCount_ + 1, kTransitWindow);
    // The spread of transit times, ignoring the few latest arrivals: a rare
    // stall costs a concealed frame rather than seconds of extra delay.
    std::array<int64_t, kTransitWindow> sorted;
    std::copy_n(transits_.begin(), transitCount_, sorted.begin());
    std::sort(sorted.begin(), sorted.begin() + transitCount_);
    const int ignored = transitCount_ / kOutlierShare;
    const int64_t spread = sorted[static_cast<size_t>(transitCount_ - 1 - ignored)] - sorted[0];
    targetDelayMs_ = static_cast<int>(std::clamp<int64_t>(spread + kFrameMs, kMinTargetDelayMs, kMaxTargetDelayMs));
}

JitterBuffer::Slot* JitterBuffer::Find(uint16_t sequence) {
    Slot& slot = slots_[sequence % kJitterSlots];
    return slot.used && slot.sequence == sequence ? &slot : nullptr;
}

const JitterBuffer::Slot* JitterBuffer::Oldest() const {
    const Slot* oldest = nullptr;
    for (const Slot& slot : slots_)
        if (slot.used && (!oldest || SequenceAfter(oldest->sequence, slot.sequence))) oldest = &slot;
    return oldest;
}

const JitterBuffer::Slot* JitterBuffer::FirstAfter(uint16_t sequence) const {
    const Slot* first = nullptr;
    for (const Slot& slot : slots_) {
        if (!slot.used || !SequenceAfter(slot.sequence, sequence)) continue;
        if (!first || SequenceAfter(first->sequence, slot.sequence)) first = &slot;
    }
    return first;
}

void JitterBuffer::Drop(Slot& slot) {
    assert(slot.used && buffered_ > 0);
    slot.used = false;
    --buffered_;
}

// Every frame played for a while waited longer than the target delay asks:
// the delay grew during a stall or a bunch of arrivals and can come down by
// whole frames of that surplus without making any of those frames late.
bool JitterBuffer::TooDeep() {
    if (skipsPending_ > 0) {
        if (++ticksSinceSkip_ < kSkipSpacingTicks) return false;
        ticksSinceSkip_ = 0;
        --skipsPending_;
        return true;
    }
    if (++windowTicks_ < kShrinkWindowTicks) return false;
    const int64_t surplus = (shortestWaitMs_ - (targetDelayMs_ - kFrameMs)) / kFrameMs;
    windowTicks_ = 0;
    shortestWaitMs_ = kNoWaitYet;
    if (surplus <= 0) return false;
    skipsPending_ = static_cast<int>(surplus) - 1;
    ticksSinceSkip_ = 0;
    return true;
}

}  // namespace voice
