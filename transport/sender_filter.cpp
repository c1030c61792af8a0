#include "transport/sender_filter.h"

#include <algorithm>

void SenderFilter::Replace(std::vector<SenderPair> rtpPairs, std::vector<uint32_t> addresses) {
    std::lock_guard<std::mutex> lock(mutex_);
    rtpPairs_ = std::move(rtpPairs);
    addresses_ = std::move(addresses);
}

bool SenderFilter::AcceptsRtp(uint32_t address, uint16_t port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(rtpPairs_.begin(), rtpPairs_.end(),
                       [&](const SenderPair& pair) { return pair.address == address && pair.port == port; });
}

bool SenderFilter::AcceptsRtcp(uint32_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}
