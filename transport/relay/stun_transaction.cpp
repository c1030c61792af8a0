#include "transport/relay/stun_transaction.h"

#include "transport/rtp/rtp_byte_order.h"

#include <algorithm>
#include <utility>

namespace relay {

TransactionId RandomTransactionId(rtp::RTPRandom& random) {
    TransactionId id;
    for (size_t i = 0; i < id.size(); i += 4) rtp::Write32(&id[i], random.GetRandom32());
    return id;
}

StunTransaction::StunTransaction(std::vector<uint8_t> request, int64_t nowMs, bool resend)
    : request_(std::move(request)), firstSentMs_(nowMs), nextSendMs_(nowMs + kFirstWaitMs), resend_(resend) {}

bool StunTransaction::Answers(const StunMessage& answer) const {
    const TransactionId id = answer.Id();
    return (answer.Class() == StunClass::kSuccess || answer.Class() == StunClass::kError) &&
           MessageType(answer.Method(), StunClass::kRequest) == rtp::Read16(request_.data()) &&
           std::equal(id.begin(), id.end(), request_.begin() + 8);
}

StunTransaction::Due StunTransaction::Poll(int64_t nowMs) {
    if (nowMs >= firstSentMs_ + kGiveUpMs) return Due::kGiveUp;
    if (!resend_ || sends_ >= kMaxSends || nowMs < nextSendMs_) return Due::kNothing;
    ++sends_;
    waitMs_ *= 2;
    nextSendMs_ = nowMs + waitMs_;
    return Due::kSendAgain;
}

int64_t StunTransaction::NextMs() const {
    const int64_t giveUp = firstSentMs_ + kGiveUpMs;
    return resend_ && sends_ < kMaxSends ? std::min(nextSendMs_, giveUp) : giveUp;
}

}  // namespace relay
