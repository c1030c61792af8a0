#include "transport/video_repair.h"

#include "transport/transmission_constants.h"

#include <cassert>

using namespace transmission;

namespace {
constexpr size_t kFixedHeaderBytes = 12;
constexpr uint8_t kMarkerBit = 0x80;

// A greeting's number, for a peer it was not sent to: its header with no
// payload, as a hello, which every peer reads past ("HI" or "REHI" meant for
// another would make it answer or stop greeting). Our packets carry no CSRC,
// extension or padding.
void MakeGapFiller(std::vector<uint8_t>* packet) {
    assert(packet->size() >= kFixedHeaderBytes && ((*packet)[0] & 0x3F) == 0);
    packet->resize(kFixedHeaderBytes);
    (*packet)[1] = static_cast<uint8_t>(((*packet)[1] & kMarkerBit) | kHelloPayloadType);
}

PeerLink* LinkOfVideoSender(const PeerSnapshot& peers, const rtp::RTPIPv4Address& sender) {
    const PeerEntry* peer = peers.FindByRtp(Medium::kVideo, sender.GetIP(), sender.GetPort());
    return peer ? peer->link.get() : nullptr;
}
}  // namespace

void VideoRepair::OnSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                         const rtp::RTPIPv4Address* destination) {
    sent_.Add(packet, length, sequence, sendTime,
              destination ? std::optional<rtp::RTPIPv4Address>(*destination) : std::nullopt);
}

void VideoRepair::OnArrival(const PeerSnapshot& peers, uint32_t ssrc, const rtp::RTPIPv4Address* sender,
                            uint16_t sequence, double now) {
    auto entry = missing_.find(ssrc);
    if (entry == missing_.end()) {
        if (!sender || missing_.size() >= kMaxNackSources) return;
        entry = missing_.emplace(ssrc, MissingVideo{NackRequester{}, *sender}).first;
    }
    if (!entry->second.requester.OnPacket(sequence, now)) return;
    if (PeerLink* link = LinkOfVideoSender(peers, entry->second.sender)) Count(link->packetsRecovered);
}

void VideoRepair::AskForMissing(const PeerSnapshot& peers, double now) {
    for (auto& [ssrc, entry] : missing_) {
        const std::vector<uint16_t> due = entry.requester.Due(now, port_.TimingOf(ssrc));
        if (due.empty() || !port_.SendNack(entry.sender, ssrc, due)) continue;
        entry.requester.MarkAsked(due, now);
        if (PeerLink* link = LinkOfVideoSender(peers, entry.sender)) Count(link->nacksSent);
    }
}

// The same bytes again (sequence number and timestamp included), so that a
// peer that knows nothing of retransmission takes it as the packet it missed,
// or drops it as a duplicate.
void VideoRepair::OnNack(const PeerEntry* asker, const uint16_t* lost, size_t lostCount, double now) {
    numbers_.clear();
    compoundLimit_.Take(lost, lostCount, &numbers_);
    if (!asker) return;
    PeerLink& link = *asker->link;
    Count(link.nacksReceived);
    const rtp::RTPIPv4Address pair = asker->PairInForce(Medium::kVideo);
    if (!IsReachable(pair)) return;
    const size_t streamBytes = sent_.BytesWithin(now);
    std::optional<rtp::RTPIPv4Address> sentTo;
    for (const uint16_t number : numbers_) {
        if (!sent_.Copy(number, now, &packet_, &sentTo)) continue;
        if (sentTo && *sentTo != pair) {
            if (protected_) continue;
            MakeGapFiller(&packet_);
        }
        if (!link.answerBudget.TrySpend(packet_.size(), streamBytes, now)) {
            Count(link.retransmissionsRefused);
            compoundLimit_.Stop();
            return;
        }
        if (port_.SendAgain(pair, packet_.data(), packet_.size())) Count(link.packetsRetransmitted);
    }
}
