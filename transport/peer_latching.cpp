#include "transport/peer_latching.h"

#include "transport/rtp/rtp_byte_order.h"
#include "transport/rtp/rtp_packet.h"
#include "transport/transmission_constants.h"

#include <algorithm>
#include <cstring>

using namespace transmission;

namespace {
bool IsGreeting(const rtp::RTPPacket& packet) {
    if (packet.GetPayloadType() != kHelloPayloadType || packet.GetPayloadLength() < kControlPrefixBytes) return false;
    return std::memcmp(packet.GetPayloadData(), kHelloText, kControlPrefixBytes) == 0 ||
           std::memcmp(packet.GetPayloadData(), kHelloAnswerText, kControlPrefixBytes) == 0;
}
}  // namespace

std::optional<LatchProof> PairToLatch(const PeerSnapshot& peers, Medium medium, const rtp::RTPIPv4Address& seen,
                                      std::span<const uint8_t> datagram, const PairOfSsrc& pairOfSsrc) {
    std::vector<rtp::RTPIPv4Address> candidates;
    for (const PeerEntry& peer : peers.Peers()) {
        const rtp::RTPIPv4Address pair = peer.PairInForce(medium);
        if (IsReachable(pair) && pair.GetIP() == seen.GetIP() && pair != seen) candidates.push_back(pair);
    }
    if (candidates.empty()) return std::nullopt;
    rtp::RTPPacket packet;
    if (!packet.Parse(datagram.data(), datagram.size(), 0)) return std::nullopt;
    if (IsGreeting(packet)) {
        // Players behind one translator share its address: a greeting names none of them.
        if (candidates.size() == 1) return LatchProof{candidates.front(), true};
        return std::nullopt;
    }
    const std::optional<rtp::RTPIPv4Address> heard = pairOfSsrc(packet.GetSSRC());
    if (heard && std::find(candidates.begin(), candidates.end(), *heard) != candidates.end())
        return LatchProof{*heard, false};
    return std::nullopt;
}

std::optional<rtp::RTPIPv4Address> RtcpPairToLatch(const PeerSnapshot& peers, Medium medium,
                                                   const rtp::RTPIPv4Address& seen, std::span<const uint8_t> datagram,
                                                   const PairOfSsrc& pairOfSsrc) {
    constexpr size_t kSenderSsrcOffset = 4;
    if (datagram.size() < kSenderSsrcOffset + 4 || (datagram[0] & 0xC0) != 0x80) return std::nullopt;
    const std::optional<rtp::RTPIPv4Address> heard = pairOfSsrc(rtp::Read32(datagram.data() + kSenderSsrcOffset));
    if (!heard || heard->GetIP() != seen.GetIP() || heard->GetPort() == 0xFFFF) return std::nullopt;
    const PeerEntry* peer = peers.FindByRtp(medium, heard->GetIP(), heard->GetPort());
    if (!peer || peer->PairInForce(medium) != *heard) return std::nullopt;
    const rtp::RTPIPv4Address rtcpPair(heard->GetIP(), static_cast<uint16_t>(heard->GetPort() + 1));
    if (rtcpPair == seen) return std::nullopt;
    return rtcpPair;
}

void PeerLatches::Latch(const rtp::RTPIPv4Address& pair, const rtp::RTPIPv4Address& seen) {
    std::erase_if(greetings_, [&](const Greeting& greeting) { return greeting.pair == pair; });
    std::erase_if(latched_, [&](const Latched& latched) { return latched.pair == pair || latched.seen == seen; });
    if (latched_.size() >= kMaxLatches) latched_.erase(latched_.begin());
    latched_.push_back({pair, seen});
}

bool PeerLatches::Greeted(const rtp::RTPIPv4Address& pair, const rtp::RTPIPv4Address& seen, int64_t nowMs) {
    const auto first = std::find_if(greetings_.begin(), greetings_.end(), [&](const Greeting& greeting) {
        return greeting.pair == pair && greeting.seen == seen;
    });
    if (first == greetings_.end()) {
        std::erase_if(greetings_, [&](const Greeting& greeting) { return greeting.pair == pair; });
        if (greetings_.size() >= kMaxLatches) greetings_.erase(greetings_.begin());
        greetings_.push_back({pair, seen, nowMs});
        return false;
    }
    if (nowMs - first->firstMs < kGreetingsConfirmMs) return false;
    Latch(pair, seen);
    return true;
}

void PeerLatches::Forget(const rtp::RTPIPv4Address& seen) {
    std::erase_if(greetings_, [&](const Greeting& greeting) { return greeting.seen == seen; });
    std::erase_if(latched_, [&](const Latched& latched) { return latched.seen == seen; });
}

std::optional<rtp::RTPIPv4Address> PeerLatches::PairOf(const rtp::RTPIPv4Address& seen) const {
    for (const Latched& latched : latched_)
        if (latched.seen == seen) return latched.pair;
    return std::nullopt;
}

rtp::RTPIPv4Address PeerLatches::SeenOf(const rtp::RTPIPv4Address& pair) const {
    for (const Latched& latched : latched_)
        if (latched.pair == pair) return latched.seen;
    return pair;
}
