// The table of up to 16 remote players, owned by the engine thread, and the
// immutable snapshot of it that the poll threads read. Every change to a
// row's addresses, ports or pair in force goes through the table, which then
// publishes a new snapshot; readers take the latest one under a small lock
// and read it without one, for as long as they hold it.
#pragma once

#include "transport/medium.h"
#include "transport/packet_sink.h"
#include "transport/peer_link.h"
#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/transmission_constants.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Whether an address names a host: 0 and 0xFFFFFFFF both mean none.
constexpr bool IsAddress(uint32_t address) {
    return address != transmission::kNoAddress && address != transmission::kBroadcastAddress;
}
// Only such pairs are sent to: media sent to "no address" would go to this
// host (0) or to broadcast (0xFFFFFFFF), and port 0 is no port.
inline bool IsReachable(const rtp::RTPIPv4Address& pair) { return IsAddress(pair.GetIP()) && pair.GetPort() != 0; }

// One remote player: two candidate address pairs per medium, the pair in
// force, and the state of the hello exchange.
struct PeerEntry {
    int32_t userId = 0;
    uint32_t publicAddress = 0;
    uint16_t publicVideoPort = 0;
    uint16_t publicAudioPort = 0;
    uint32_t localAddress = 0;
    uint16_t localVideoPort = 0;
    uint16_t localAudioPort = 0;
    int32_t usePublic = 0;  // 1: the public pair is in force, 0: the local pair
    int32_t audioSettled = 0;
    int32_t videoSettled = 0;
    uint32_t videoHelloTime = 0;  // GetTickCount of the first "HI", 0 = none yet
    uint32_t audioHelloTime = 0;
    ITavolinPacketSink* sink = nullptr;  // engine thread only, also in a snapshot
    std::shared_ptr<PeerLink> link;

    uint16_t PublicPort(Medium medium) const { return medium == Medium::kVideo ? publicVideoPort : publicAudioPort; }
    uint16_t LocalPort(Medium medium) const { return medium == Medium::kVideo ? localVideoPort : localAudioPort; }
    int32_t& Settled(Medium medium) { return medium == Medium::kVideo ? videoSettled : audioSettled; }
    uint32_t& HelloTime(Medium medium) { return medium == Medium::kVideo ? videoHelloTime : audioHelloTime; }
    // The pair of the medium that is in force.
    rtp::RTPIPv4Address PairInForce(Medium medium) const;
    // Whether (address, port) is either pair of the medium, whichever is in force.
    bool HasRtpPair(Medium medium, uint32_t address, uint16_t port) const;
};

// The table's rows at one moment. Lookups go in table order, first match.
class PeerSnapshot {
public:
    PeerSnapshot() = default;
    explicit PeerSnapshot(std::vector<PeerEntry> peers) : peers_(std::move(peers)) {}

    const std::vector<PeerEntry>& Peers() const { return peers_; }
    // The peer that sends RTP of the medium from (address, port).
    const PeerEntry* FindByRtp(Medium medium, uint32_t address, uint16_t port) const;
    // The peer whose RTCP socket of the medium is at (address, port): one
    // port above either RTP pair.
    const PeerEntry* FindByRtcp(Medium medium, uint32_t address, uint16_t port) const;
    // The peer that sent feedback about our video: known by where its video
    // comes from (mediaSender, null when none came), else by its RTCP socket.
    const PeerEntry* FindFeedbackSender(const rtp::RTPIPv4Address& rtcpSender,
                                        const rtp::RTPIPv4Address* mediaSender) const;
    // Whether `address` is either address of a peer.
    bool HasAddress(uint32_t address) const;

private:
    std::vector<PeerEntry> peers_;
};

class PeerTable {
public:
    PeerTable();
    PeerTable(const PeerTable&) = delete;
    PeerTable& operator=(const PeerTable&) = delete;

    // Engine thread.
    int Count() const { return peerCount_; }
    PeerEntry& At(int index) { return peers_[index]; }
    const PeerEntry& At(int index) const { return peers_[index]; }
    PeerEntry* Find(int32_t userId);
    // The first row one of whose pairs of the medium is (address, port).
    PeerEntry* FindBySender(Medium medium, uint32_t address, uint16_t port);

    // Engine thread; each publishes. A new row has the addresses as given,
    // every port unknown and its public pairs in force; null when full.
    PeerEntry* Add(int32_t userId, uint32_t publicAddress, uint32_t localAddress, ITavolinPacketSink* sink);
    // Replaces each address that names a host; the others stay.
    void SetAddresses(PeerEntry& peer, uint32_t publicAddress, uint32_t localAddress);
    void SetPorts(PeerEntry& peer, Medium medium, uint16_t publicPort, uint16_t localPort);
    void UseLocalPairs(PeerEntry& peer);
    // Later rows move up one place.
    void Remove(PeerEntry& peer);

    // Any thread.
    std::shared_ptr<const PeerSnapshot> Snapshot() const;

private:
    void Publish();

    PeerEntry peers_[transmission::kMaxPeers];
    int32_t peerCount_ = 0;
    mutable std::mutex snapshotLock_;
    std::shared_ptr<const PeerSnapshot> snapshot_;  // under snapshotLock_
};
