// One STUN Binding request to a server and its answer: the address and port
// the server sees this socket at. When the relay server sees another port
// than the address server did, the translator in front of this host maps per
// destination, hole punching will fail, and the session should be relayed.
#pragma once

#include "transport/relay/relay_port.h"
#include "transport/relay/stun_message.h"
#include "transport/relay/stun_transaction.h"
#include "transport/rtp/rtp_random.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace relay {

std::vector<uint8_t> BuildBindingRequest(const TransactionId& id);

class BindingProbe {
public:
    BindingProbe(RelayPort& port, rtp::RTPRandom& random, const rtp::RTPIPv4Address& server, bool overStream);

    void Start(int64_t nowMs);
    // Retransmits, or gives up (kRequestTimedOut).
    void OnTimer(int64_t nowMs);
    int64_t NextTimerMs() const;
    // True when `bytes` (from the server) answered the request; then
    // kBindingAnswered names the mapped address.
    bool OnServerDatagram(std::span<const uint8_t> bytes);

    bool Finished() const { return started_ && !transaction_; }
    const std::optional<rtp::RTPIPv4Address>& Mapped() const { return mapped_; }

private:
    void SendRequest();

    RelayPort& port_;
    rtp::RTPRandom& random_;
    const rtp::RTPIPv4Address server_;
    const bool overStream_;
    bool started_ = false;
    std::optional<StunTransaction> transaction_;
    std::optional<rtp::RTPIPv4Address> mapped_;
};

}  // namespace relay
