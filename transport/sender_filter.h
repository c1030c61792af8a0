// Who may be heard on a session: the players in the table. RTP must come
// from a player's pair of that medium; RTCP from a player's address, on any
// port, because a translator maps the RTCP socket to a port of its own.
// Datagrams from anyone else are dropped before they reach the source table,
// so strangers cannot crowd out players or stretch the report interval.
// The engine thread replaces the lists, the poll thread reads them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

struct SenderPair {
    uint32_t address;
    uint16_t port;
};

class SenderFilter {
public:
    void Replace(std::vector<SenderPair> rtpPairs, std::vector<uint32_t> addresses);
    bool AcceptsRtp(uint32_t address, uint16_t port) const;
    bool AcceptsRtcp(uint32_t address) const;

private:
    mutable std::mutex mutex_;
    std::vector<SenderPair> rtpPairs_;
    std::vector<uint32_t> addresses_;
};
