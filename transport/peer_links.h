// What the poll threads need of the peer table, and what the transmission
// counts per peer. The window thread owns the table and publishes each
// peer's pairs here after every change; the poll threads find a peer by the
// address a datagram came from, learn where its media goes, and count. One
// lock guards all of it; no call waits for anything else.
#pragma once

#include "transport/retransmission_budget.h"
#include "transport/rtp/rtp_ipv4_address.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// A peer's addresses as the table holds them, both media.
struct PeerPairs {
    int32_t userId = 0;
    uint32_t publicAddress = 0;
    uint32_t localAddress = 0;
    uint16_t publicPorts[2] = {0, 0};  // [0] voice, [1] video
    uint16_t localPorts[2] = {0, 0};
    bool usePublic = true;
};

struct PeerLinkMediumCounts {
    uint64_t packetsReceived = 0;
    uint64_t bytesReceived = 0;
};

struct PeerLinkCounts {
    PeerLinkMediumCounts voice;
    PeerLinkMediumCounts video;
    uint64_t nacksSent = 0;  // NACK messages
    uint64_t nacksReceived = 0;
    uint64_t pictureLossSent = 0;
    uint64_t pictureLossReceived = 0;
    uint64_t packetsRetransmitted = 0;
    uint64_t retransmissionsRefused = 0;
    uint64_t packetsRecovered = 0;
};

class PeerLinks {
public:
    static constexpr int32_t kNoPeer = -1;

    // Counts and budgets follow the users that stay; new ones start at zero.
    void Update(const std::vector<PeerPairs>& peers);
    // The user whose RTP pair of the medium (either one) is (address, port).
    int32_t FindByRtp(uint32_t address, uint16_t port, bool video) const;
    // The user whose RTCP socket is at (address, port): one above either RTP port.
    int32_t FindByRtcp(uint32_t address, uint16_t port, bool video) const;
    // The user's pair of the medium in force; false when unknown or when it
    // names no host or port (media is not sent there either).
    bool PairInForce(int32_t userId, bool video, rtp::RTPIPv4Address* pair) const;

    void Count(int32_t userId, uint64_t PeerLinkCounts::*counter, uint64_t amount = 1);
    void CountReceived(int32_t userId, bool video, size_t bytes);
    // Spends from the user's retransmission budget; a refusal is counted.
    bool TrySpendRetransmission(int32_t userId, size_t bytes, size_t streamBytes, double now);
    bool GetCounts(int32_t userId, PeerLinkCounts* out) const;

private:
    struct Link {
        PeerPairs pairs;
        PeerLinkCounts counts;
        RetransmissionBudget budget;
    };
    Link* Find(int32_t userId);
    const Link* Find(int32_t userId) const;

    mutable std::mutex mutex_;
    std::vector<Link> links_;
};
