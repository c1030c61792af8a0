// A relay server's answers built for the requests an allocation sent, and a
// port that keeps what it sends: for the tests, the fuzz target and the
// benchmark, without a server or a socket.
#pragma once

#include "transport/relay/allocation.h"
#include "transport/relay/relay_port.h"
#include "transport/relay/stun_integrity.h"
#include "transport/relay/stun_message.h"

#include <functional>
#include <span>
#include <vector>

namespace relay_testing {
using Bytes = std::vector<uint8_t>;
using namespace relay;

const rtp::RTPIPv4Address kServer(0xC6120001, 3478);  // 198.18.0.1
const rtp::RTPIPv4Address kRelayed(0xC6120001, 50000);
const rtp::RTPIPv4Address kMapped(0xC6120002, 40000);
const rtp::RTPIPv4Address kPeer(0xC6120003, 6000);
const ReservationToken kToken = {1, 2, 3, 4, 5, 6, 7, 8};
inline const RelayServer kServerSettings{kServer, "user", "secret"};
inline const LongTermKey kKey = MakeLongTermKey("user", "room", "secret");

struct RecordingPort : RelayPort {
    struct Sent {
        rtp::RTPIPv4Address to;
        Bytes bytes;
    };
    std::vector<Sent> sent;
    std::vector<RelayEvent> events;

    bool SendToServer(const rtp::RTPIPv4Address& to, std::span<const Piece> pieces) override {
        Bytes bytes;
        for (const Piece piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
        sent.push_back({to, std::move(bytes)});
        return true;
    }
    void OnRelayEvent(const RelayEvent& event) override { events.push_back(event); }
    StunMessage Request(size_t fromEnd = 1) const { return *StunMessage::Parse(sent[sent.size() - fromEnd].bytes); }
};

// The answer to `request`, signed under `key` unless it is empty.
inline Bytes Answer(const StunMessage& request, StunClass answerClass,
                    const std::function<void(StunWriter&)>& fill = {}, std::span<const uint8_t> key = kKey) {
    StunWriter writer(request.Method(), answerClass, request.Id());
    if (fill) fill(writer);
    return writer.Finish(key);
}

inline Bytes Refusal(const StunMessage& request, int code, const std::function<void(StunWriter&)>& fill = {}) {
    return Answer(request, StunClass::kError,
                  [&](StunWriter& writer) {
                      writer.AddErrorCode(code, "no");
                      if (fill) fill(writer);
                  },
                  {});
}

inline Bytes Challenge(const StunMessage& request, const char* nonce = "n1") {
    return Refusal(request, 401,
                   [&](StunWriter& w) { w.AddText(attribute::kRealm, "room").AddText(attribute::kNonce, nonce); });
}

inline Bytes Grant(const StunMessage& request, uint32_t lifetime = 600) {
    return Answer(request, StunClass::kSuccess, [&](StunWriter& w) {
        w.AddAddress(attribute::kXorRelayedAddress, kRelayed)
            .AddAddress(attribute::kXorMappedAddress, kMapped)
            .AddUint32(attribute::kLifetime, lifetime)
            .Add(attribute::kReservationToken, kToken);
    });
}

// Starts `allocation` (of kServerSettings, sending through `port`) and
// answers it until allocated with kPeer's permission and channel granted.
inline void AllocateWithBoundPeer(Allocation& allocation, RecordingPort& port, int64_t nowMs) {
    RelayedDatagram relayed;
    allocation.Start(nowMs);
    allocation.OnServerDatagram(Challenge(port.Request()), nowMs, &relayed);
    allocation.OnServerDatagram(Grant(port.Request()), nowMs, &relayed);
    allocation.AddPeer(kPeer, nowMs);
    for (size_t fromEnd : {2, 1})
        allocation.OnServerDatagram(Answer(port.Request(fromEnd), StunClass::kSuccess), nowMs, &relayed);
}

}  // namespace relay_testing
