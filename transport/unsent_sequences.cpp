#include "transport/unsent_sequences.h"

#include <algorithm>

namespace {
// Numbers kept per peer: reports come every few seconds, a few hundred
// packets apart; beyond this a report is far behind, and its numbers could
// be taken for another turn of the 16-bit sequence.
constexpr uint64_t kKeptNumbers = 16384;

uint64_t KeyOf(const rtp::RTPIPv4Address& address) { return uint64_t{address.GetIP()} << 16 | address.GetPort(); }
}  // namespace

uint64_t UnsentSequences::Extend(uint16_t sequence) const {
    // At most half a turn behind the latest sent, or ahead of it.
    const auto behind = static_cast<int16_t>(static_cast<uint16_t>(last_) - sequence);
    return last_ - behind;
}

uint64_t UnsentSequences::SkippedUpTo(const Peer& peer, uint64_t sequence) {
    return peer.skippedBefore +
           static_cast<uint64_t>(std::upper_bound(peer.skipped.begin(), peer.skipped.end(), sequence) -
                                 peer.skipped.begin());
}

void UnsentSequences::OnSent(uint16_t sequence, const std::vector<rtp::RTPIPv4Address>& skipped) {
    std::lock_guard lock(mutex_);
    // The first number is placed a turn up, so that reports of earlier
    // numbers never extend below zero.
    last_ = sent_ ? Extend(sequence) : uint64_t{1} << 16 | sequence;
    sent_ = true;
    for (const rtp::RTPIPv4Address& address : skipped) {
        Peer& peer = peers_[KeyOf(address)];
        peer.skipped.push_back(last_);
        while (!peer.skipped.empty() && peer.skipped.front() + kKeptNumbers < last_) {
            peer.skipped.pop_front();
            ++peer.skippedBefore;
        }
    }
}

double UnsentSequences::ShareLost(const rtp::RTPIPv4Address& address, uint16_t highest, int32_t cumulativeLost,
                                  uint8_t fractionLost, double reportTime) {
    std::lock_guard lock(mutex_);
    const auto found = peers_.find(KeyOf(address));
    if (found == peers_.end()) return fractionLost / 256.0;  // everything went to it
    Peer& peer = found->second;
    if (peer.reported && peer.reportTime == reportTime) return peer.share;
    const uint64_t high = Extend(highest);  // a peer is known only once something was sent
    const uint64_t skippedUpTo = SkippedUpTo(peer, high);
    int64_t expected;
    int64_t lost;
    int64_t skipped;
    if (peer.reported && high >= peer.highest) {
        expected = static_cast<int64_t>(high - peer.highest);
        lost = int64_t{cumulativeLost} - peer.cumulativeLost;
        skipped = static_cast<int64_t>(skippedUpTo - peer.skippedUpToHighest);
    } else {
        // Its first report: the interval since its first packet, which the
        // fraction gives (lost over expected), holds all it counts lost.
        expected = fractionLost > 0 ? std::clamp<int64_t>(int64_t{cumulativeLost} * 256 / fractionLost, 0,
                                                          static_cast<int64_t>(high))
                                    : 0;
        lost = cumulativeLost;
        skipped = expected > 0 ? static_cast<int64_t>(skippedUpTo - SkippedUpTo(peer, high - expected)) : 0;
    }
    peer.reported = true;
    peer.reportTime = reportTime;
    peer.highest = high;
    peer.cumulativeLost = cumulativeLost;
    peer.skippedUpToHighest = skippedUpTo;
    const int64_t sentToIt = expected - skipped;
    peer.share = sentToIt > 0 ? std::clamp(static_cast<double>(lost - skipped) / sentToIt, 0.0, 1.0) : 0;
    return peer.share;
}
