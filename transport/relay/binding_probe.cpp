#include "transport/relay/binding_probe.h"

#include <limits>

namespace relay {

std::vector<uint8_t> BuildBindingRequest(const TransactionId& id) {
    return StunWriter(method::kBinding, StunClass::kRequest, id).Finish();
}

BindingProbe::BindingProbe(RelayPort& port, rtp::RTPRandom& random, const rtp::RTPIPv4Address& server, bool overStream)
    : port_(port), random_(random), server_(server), overStream_(overStream) {}

void BindingProbe::Start(int64_t nowMs) {
    if (started_) return;
    started_ = true;
    transaction_.emplace(BuildBindingRequest(RandomTransactionId(random_)), nowMs, !overStream_);
    SendRequest();
}

void BindingProbe::SendRequest() {
    const Piece request[] = {transaction_->Request()};
    port_.SendToServer(server_, request);
}

void BindingProbe::OnTimer(int64_t nowMs) {
    if (!transaction_) return;
    switch (transaction_->Poll(nowMs)) {
        case StunTransaction::Due::kSendAgain: SendRequest(); break;
        case StunTransaction::Due::kGiveUp:
            transaction_.reset();
            port_.OnRelayEvent({RelayEventKind::kRequestTimedOut, method::kBinding, 0, server_});
            break;
        case StunTransaction::Due::kNothing: break;
    }
}

int64_t BindingProbe::NextTimerMs() const {
    return transaction_ ? transaction_->NextMs() : std::numeric_limits<int64_t>::max();
}

bool BindingProbe::OnServerDatagram(std::span<const uint8_t> bytes) {
    const std::optional<StunMessage> answer = StunMessage::Parse(bytes);
    if (!transaction_ || !answer || !transaction_->Answers(*answer)) return false;
    transaction_.reset();
    mapped_ = answer->Address(attribute::kXorMappedAddress);
    if (!mapped_) mapped_ = answer->Address(attribute::kMappedAddress);
    if (mapped_) {
        port_.OnRelayEvent({RelayEventKind::kBindingAnswered, method::kBinding, 0, *mapped_});
    } else {
        port_.OnRelayEvent({RelayEventKind::kRefused, method::kBinding, answer->ErrorCode().value_or(0), server_});
    }
    return true;
}

}  // namespace relay
