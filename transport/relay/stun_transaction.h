// One STUN request until it is answered or given up. Over UDP it is sent
// again 100 ms after the first send, then after waits that double (sends at
// 0, 100, 300, 700 and 1500 ms); over a stream it is sent once. Either way it
// is given up 3.1 s after the first send, when the last wait has passed.
#pragma once

#include "transport/relay/stun_message.h"
#include "transport/rtp/rtp_random.h"

#include <cstdint>
#include <vector>

namespace relay {

TransactionId RandomTransactionId(rtp::RTPRandom& random);

class StunTransaction {
public:
    static constexpr int64_t kFirstWaitMs = 100;
    static constexpr int kMaxSends = 5;
    static constexpr int64_t kGiveUpMs = kFirstWaitMs * ((1 << kMaxSends) - 1);

    // The request was first sent at nowMs.
    StunTransaction(std::vector<uint8_t> request, int64_t nowMs, bool resend);

    const std::vector<uint8_t>& Request() const { return request_; }
    bool Answers(const StunMessage& answer) const;

    enum class Due { kNothing, kSendAgain, kGiveUp };
    // What is due at nowMs; one resend at most, however late the call.
    Due Poll(int64_t nowMs);
    int64_t NextMs() const;

private:
    std::vector<uint8_t> request_;
    int64_t firstSentMs_;
    int64_t nextSendMs_;
    int64_t waitMs_ = kFirstWaitMs;
    int sends_ = 1;
    bool resend_;
};

}  // namespace relay
