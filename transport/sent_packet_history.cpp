#include "transport/sent_packet_history.h"

using namespace transmission;

void SentPacketHistory::Add(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                            std::optional<rtp::RTPIPv4Address> destination) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[sequence % slots_.size()];
    slot.bytes.assign(packet, packet + length);
    slot.destination = destination;
    slot.sequence = sequence;
    slot.sendTime = sendTime;
    slot.used = true;
}

bool SentPacketHistory::IsRecent(const Slot& slot, double now) const {
    return slot.used && now - slot.sendTime <= kSentHistorySeconds;
}

bool SentPacketHistory::Copy(uint16_t sequence, double now, std::vector<uint8_t>* out,
                             std::optional<rtp::RTPIPv4Address>* destination) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Slot& slot = slots_[sequence % slots_.size()];
    if (!IsRecent(slot, now) || slot.sequence != sequence) return false;
    out->assign(slot.bytes.begin(), slot.bytes.end());
    if (destination) *destination = slot.destination;
    return true;
}

size_t SentPacketHistory::BytesWithin(double now) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t bytes = 0;
    for (const Slot& slot : slots_)
        if (IsRecent(slot, now)) bytes += slot.bytes.size();
    return bytes;
}
