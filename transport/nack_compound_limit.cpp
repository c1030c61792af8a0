#include "transport/nack_compound_limit.h"

void NackCompoundLimit::BeginCompound() {
    for (const uint16_t number : taken_) seen_.reset(number);
    taken_.clear();
    stopped_ = false;
}

void NackCompoundLimit::Take(const uint16_t* lost, size_t count, std::vector<uint16_t>* out) {
    for (size_t i = 0; i < count && !stopped_ && taken_.size() < kMaxNumbers; ++i) {
        if (seen_.test(lost[i])) continue;
        seen_.set(lost[i]);
        taken_.push_back(lost[i]);
        out->push_back(lost[i]);
    }
}
