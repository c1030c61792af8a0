#include "transport/peer_links.h"

#include "transport/transmission_constants.h"

#include <algorithm>

namespace {
bool HasRtpPair(const PeerPairs& pairs, uint32_t address, uint16_t port, bool video) {
    return (pairs.publicAddress == address && pairs.publicPorts[video] == port) ||
           (pairs.localAddress == address && pairs.localPorts[video] == port);
}
}  // namespace

void PeerLinks::Update(const std::vector<PeerPairs>& peers) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Link> updated;
    updated.reserve(peers.size());
    for (const PeerPairs& pairs : peers) {
        const auto known = std::find_if(links_.begin(), links_.end(),
                                        [&](const Link& link) { return link.pairs.userId == pairs.userId; });
        updated.push_back(known != links_.end() ? std::move(*known) : Link{});
        updated.back().pairs = pairs;
    }
    links_.swap(updated);
}

PeerLinks::Link* PeerLinks::Find(int32_t userId) {
    for (Link& link : links_)
        if (link.pairs.userId == userId) return &link;
    return nullptr;
}

const PeerLinks::Link* PeerLinks::Find(int32_t userId) const { return const_cast<PeerLinks*>(this)->Find(userId); }

int32_t PeerLinks::FindByRtp(uint32_t address, uint16_t port, bool video) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Link& link : links_)
        if (HasRtpPair(link.pairs, address, port, video)) return link.pairs.userId;
    return kNoPeer;
}

int32_t PeerLinks::FindByRtcp(uint32_t address, uint16_t port, bool video) const {
    if (port == 0) return kNoPeer;
    return FindByRtp(address, static_cast<uint16_t>(port - 1), video);
}

bool PeerLinks::PairInForce(int32_t userId, bool video, rtp::RTPIPv4Address* pair) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Link* link = Find(userId);
    if (!link) return false;
    const PeerPairs& p = link->pairs;
    *pair = p.usePublic ? rtp::RTPIPv4Address(p.publicAddress, p.publicPorts[video])
                        : rtp::RTPIPv4Address(p.localAddress, p.localPorts[video]);
    return pair->GetIP() != transmission::kNoAddress && pair->GetIP() != transmission::kBroadcastAddress &&
           pair->GetPort() != 0;
}

void PeerLinks::Count(int32_t userId, uint64_t PeerLinkCounts::*counter, uint64_t amount) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Link* link = Find(userId)) link->counts.*counter += amount;
}

void PeerLinks::CountReceived(int32_t userId, bool video, size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    Link* link = Find(userId);
    if (!link) return;
    PeerLinkMediumCounts& medium = video ? link->counts.video : link->counts.voice;
    ++medium.packetsReceived;
    medium.bytesReceived += bytes;
}

bool PeerLinks::TrySpendRetransmission(int32_t userId, size_t bytes, size_t streamBytes, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Link* link = Find(userId);
    if (!link) return false;
    if (link->budget.TrySpend(bytes, streamBytes, now)) return true;
    ++link->counts.retransmissionsRefused;
    return false;
}

bool PeerLinks::GetCounts(int32_t userId, PeerLinkCounts* out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Link* link = Find(userId);
    if (!link) return false;
    *out = link->counts;
    return true;
}
