#include "transport/address/answer_budget.h"

#include <algorithm>
#include <bit>
#include <random>

namespace {
constexpr uint64_t kCreditPerAnswer = 1000;  // one answer in thousandths, so a millisecond adds perSecond
constexpr uint64_t kRefillMs = uint64_t{AnswerBudget::kBurstSeconds} * 1000;
constexpr int kSlotBits = std::countr_zero(AnswerBudget::kSlots);
static_assert(std::has_single_bit(AnswerBudget::kSlots));

uint64_t RandomWord() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
}
}  // namespace

AnswerBudget::AnswerBudget(uint32_t perSecond)
    : perSecond_(std::clamp<uint32_t>(perSecond, 1, kMaxPerSecond)),
      burst_(perSecond_ * kBurstSeconds),
      xorKey_(RandomWord()),
      multiplier_(RandomWord() | 1),
      addresses_(kSlots),
      ports_(kSlots) {}

// Multiply-shift with a random odd multiplier: two keys share a slot with
// probability about 2 / kSlots, whichever two they are.
size_t AnswerBudget::Place(uint64_t key) const {
    return static_cast<size_t>(((key ^ xorKey_) * multiplier_) >> (64 - kSlotBits));
}

size_t AnswerBudget::SlotOf(uint32_t address) const { return Place(address); }

// Above every address key, so that an address and a port place independently.
size_t AnswerBudget::SlotOf(uint32_t address, uint16_t port) const {
    return Place((uint64_t{port} + 1) << 32 | address);
}

bool AnswerBudget::TrySpendBucket(uint32_t address, int64_t nowMs) {
    AddressSlot& slot = addresses_[SlotOf(address)];
    const uint64_t full = uint64_t{burst_} * kCreditPerAnswer;
    if (!slot.taken || slot.address != address) {
        slot = {nowMs, full, address, true};
    } else if (nowMs > slot.lastMs) {
        // An empty bucket is full again after kBurstSeconds; the cap keeps a
        // long quiet spell from overflowing the product.
        const uint64_t elapsed = std::min<uint64_t>(static_cast<uint64_t>(nowMs - slot.lastMs), kRefillMs);
        slot.credit = std::min(full, slot.credit + elapsed * perSecond_);
        slot.lastMs = nowMs;
    }
    if (slot.credit < kCreditPerAnswer) return false;
    slot.credit -= kCreditPerAnswer;
    return true;
}

// Every answer marks its port, so that a port's first answer in a period
// comes on top of the bucket only when the bucket refused.
bool AnswerBudget::TrySpend(uint32_t address, uint16_t port, int64_t nowMs) {
    PortSlot& slot = ports_[SlotOf(address, port)];
    if (slot.address != address || slot.port != port) slot = {0, address, port, false};
    const bool first = !slot.answered || nowMs - slot.answeredMs >= kFirstAnswerPeriodMs;
    if (!TrySpendBucket(address, nowMs) && !first) return false;
    slot.answeredMs = nowMs;
    slot.answered = true;
    return true;
}
