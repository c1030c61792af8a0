#include "transport/nack_requester.h"

#include "transport/rtp/rtp_sequence.h"
#include "transport/transmission_constants.h"

#include <algorithm>

using namespace transmission;

NackTiming NackTimingFor(double roundTripSeconds, double jitterSeconds) {
    const double roundTrip = roundTripSeconds > 0 ? roundTripSeconds : kAssumedRoundTripSeconds;
    return {std::clamp(kNackReorderJitters * jitterSeconds, kNackReorderWaitFloorSeconds, kNackReorderWaitCapSeconds),
            std::max(kNackRetryFloorSeconds, kNackRetryRoundTrips * roundTrip + kNackRetryJitters * jitterSeconds)};
}

bool NackRequester::OnPacket(uint16_t sequence, double now) {
    if (!started_) {
        started_ = true;
        highest_ = sequence;
        return false;
    }
    const int32_t ahead = rtp::SequenceDistance(sequence, highest_);
    if (ahead > 0) {
        if (ahead - 1 > kMaxNackGap) {
            missing_.clear();  // a restart or a long outage: a key frame mends it
        } else {
            for (int32_t i = 1; i < ahead; ++i) AddMissing(static_cast<uint16_t>(highest_ + i), now);
        }
        highest_ = sequence;
        return false;
    }
    const auto found = std::find_if(missing_.begin(), missing_.end(),
                                    [&](const Missing& entry) { return entry.sequence == sequence; });
    if (found == missing_.end()) return false;  // a duplicate, or given up
    const bool asked = found->tries > 0;
    missing_.erase(found);
    return asked;
}

void NackRequester::AddMissing(uint16_t sequence, double now) {
    if (missing_.size() >= kMaxTrackedMissing) missing_.erase(missing_.begin());
    missing_.push_back({sequence, now, 0, 0});
}

std::vector<uint16_t> NackRequester::Due(double now, const NackTiming& timing) {
    std::erase_if(missing_, [&](const Missing& entry) {
        const bool lastAskExpired = entry.tries >= kMaxNackTries && now - entry.lastAsked >= timing.retryInterval;
        return now - entry.since > kNackGiveUpSeconds || lastAskExpired;
    });
    std::vector<uint16_t> due;
    for (const Missing& entry : missing_) {
        if (now - entry.since < timing.reorderWait || entry.tries >= kMaxNackTries) continue;
        if (entry.tries > 0 && now - entry.lastAsked < timing.retryInterval) continue;
        due.push_back(entry.sequence);
    }
    return due;
}

void NackRequester::MarkAsked(const std::vector<uint16_t>& asked, double now) {
    for (Missing& entry : missing_) {
        if (std::find(asked.begin(), asked.end(), entry.sequence) == asked.end()) continue;
        entry.lastAsked = now;
        ++entry.tries;
    }
}
