#include "transport/retransmission_budget.h"

#include "transport/transmission_constants.h"

using namespace transmission;

bool RetransmissionBudget::TrySpend(size_t bytes, size_t streamBytes, double now) {
    while (!spent_.empty() && now - spent_.front().time > kSentHistorySeconds) {
        spentBytes_ -= spent_.front().bytes;
        spent_.pop_front();
    }
    if (static_cast<double>(spentBytes_ + bytes) > kRetransmissionBudgetShare * static_cast<double>(streamBytes))
        return false;
    spent_.push_back({now, bytes});
    spentBytes_ += bytes;
    return true;
}
