// The video packets this engine sent during the last second, byte for byte,
// so that a peer that missed one can be sent the very same packet again.
// Besides the stream to every peer, the session's greetings take numbers of
// it too, each sent to one address; the history keeps where, so that a peer
// can be told what such a number carried. Slots are found by sequence number
// and reused, so steady sending allocates nothing. The sending thread adds,
// a poll thread reads: each call locks.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/transmission_constants.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class SentPacketHistory {
public:
    // destination: the one address the packet went to, or none for the stream.
    void Add(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
             std::optional<rtp::RTPIPv4Address> destination = std::nullopt);
    // Copies packet `sequence` when it was sent within the history's window
    // before `now` and is still held, with where it went.
    bool Copy(uint16_t sequence, double now, std::vector<uint8_t>* out,
              std::optional<rtp::RTPIPv4Address>* destination = nullptr) const;
    // Bytes of the packets sent within the window before `now`.
    size_t BytesWithin(double now) const;

private:
    struct Slot {
        std::vector<uint8_t> bytes;
        std::optional<rtp::RTPIPv4Address> destination;
        uint16_t sequence = 0;
        double sendTime = 0;
        bool used = false;
    };
    bool IsRecent(const Slot& slot, double now) const;

    // Sequence numbers wrap onto the same slots.
    static_assert(65536 % transmission::kSentHistoryPackets == 0);
    mutable std::mutex mutex_;
    std::array<Slot, transmission::kSentHistoryPackets> slots_;
};
