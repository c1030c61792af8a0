#include "transport/rtp/rtp_sequence.h"

#include "transport/rtp/rtp_defaults.h"

namespace rtp {
namespace {
constexpr int32_t kMaxLost = 0x7FFFFF;  // signed 24-bit report field
constexpr int32_t kMinLost = -0x800000;
}  // namespace

void RTPSequenceValidator::Init(uint16_t sequence) {
    baseSequence_ = sequence;
    maxSequence_ = sequence;
    badSequence_ = kSequenceModulo + 1;  // so sequence == badSequence_ is false
    cycles_ = 0;
    received_ = 0;
    expectedPrior_ = 0;
    receivedPrior_ = 0;
}

void RTPSequenceValidator::Start(uint16_t sequence, int probation) {
    Init(sequence);
    // In probation the first packet must count as the next in order.
    if (probation > 0) maxSequence_ = static_cast<uint16_t>(sequence - 1);
    probation_ = probation;
}

RTPSequenceValidator::Result RTPSequenceValidator::Update(uint16_t sequence) {
    const uint16_t delta = static_cast<uint16_t>(sequence - maxSequence_);
    if (probation_ > 0) {
        if (sequence != static_cast<uint16_t>(maxSequence_ + 1)) {
            probation_ = kMinSequential - 1;
            maxSequence_ = sequence;
            return Result::kProbationRestarted;
        }
        maxSequence_ = sequence;
        if (--probation_ > 0) return Result::kHeld;
        Init(sequence);
        ++received_;
        return Result::kValidated;
    }
    if (delta < kMaxDropout) {
        if (sequence < maxSequence_) cycles_ += kSequenceModulo;  // wrapped
        maxSequence_ = sequence;
    } else if (delta <= kSequenceModulo - kMaxMisorder) {
        if (sequence == badSequence_) {
            // Two in a row after a big jump: the sender restarted.
            Init(sequence);
        } else {
            badSequence_ = (sequence + 1u) & (kSequenceModulo - 1);
            return Result::kRejected;
        }
    }
    // else: a duplicate or a packet out of order, accepted as it is
    ++received_;
    return Result::kAccepted;
}

int32_t RTPSequenceValidator::GetCumulativeLost() const {
    const int64_t expected = int64_t{GetExtendedHighest()} - baseSequence_ + 1;
    const int64_t lost = expected - received_;
    if (lost > kMaxLost) return kMaxLost;
    if (lost < kMinLost) return kMinLost;
    return static_cast<int32_t>(lost);
}

uint8_t RTPSequenceValidator::TakeFractionLost() {
    const uint32_t expected = GetExtendedHighest() - baseSequence_ + 1;
    const uint32_t expectedInterval = expected - expectedPrior_;
    const uint32_t receivedInterval = received_ - receivedPrior_;
    expectedPrior_ = expected;
    receivedPrior_ = received_;
    const int64_t lostInterval = int64_t{expectedInterval} - receivedInterval;
    if (expectedInterval == 0 || lostInterval <= 0) return 0;
    return static_cast<uint8_t>((lostInterval << 8) / expectedInterval);
}

}  // namespace rtp
