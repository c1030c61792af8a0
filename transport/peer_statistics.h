// What the transmission knows about its traffic with one peer, for a host's
// view of the connection. Filled by CTavolinTransmission::GetPeerStatistics.
#pragma once

#include "transport/medium.h"

#include <cstdint>

struct TrafficCount {
    uint64_t packets = 0;
    uint64_t bytes = 0;
};

// A peer's datagrams in an encrypted room that did not open, by reason, and
// those that did.
struct ProtectionFigures {
    uint64_t accepted = 0;
    uint64_t authenticationFailures = 0;  // also too short, or a stream too many
    uint64_t replays = 0;
    uint64_t unknownEpoch = 0;
    uint64_t dropsInARow = 0;  // since the last datagram that opened (of the medium with most)

    void Add(const ProtectionFigures& other) {
        accepted += other.accepted;
        authenticationFailures += other.authenticationFailures;
        replays += other.replays;
        unknownEpoch += other.unknownEpoch;
        dropsInARow = dropsInARow > other.dropsInARow ? dropsInARow : other.dropsInARow;
    }
};

struct MediumTransportStatistics {
    // RTP of this medium from the peer that reached the window thread, with
    // the headers: media handed to the peer's sink, greetings ("HI", "REHI"),
    // and both together.
    TrafficCount media;
    TrafficCount greetings;
    uint64_t packetsReceived = 0;
    uint64_t bytesReceived = 0;
    // RTP packets this engine sent on the medium; each goes to every peer.
    uint64_t packetsSent = 0;
    uint64_t bytesSent = 0;

    // Our reception of the peer's source: set once its RTP has been heard.
    bool hasReception = false;
    double fractionLost = 0;  // 0..1, the interval of our last report about it
    int32_t cumulativeLost = 0;
    double jitterMs = 0;

    // What the peer reported about our source in its last SR or RR.
    bool hasPeerReport = false;
    double peerFractionLost = 0;
    int32_t peerCumulativeLost = 0;
    double peerJitterMs = 0;
    double peerReportTime = 0;  // session clock seconds of its arrival
    // Of what we sent it in that report's interval, the share it lost: the
    // numbers a greeting to another peer or a hold took are not its loss.
    double peerLostOfSent = 0;
    // From that report's LSR and DLSR; 0 until a report answered one of our
    // sender reports.
    double roundTripMs = 0;
};

struct PeerTransportStatistics {
    MediumTransportStatistics voice;
    MediumTransportStatistics video;
    MediumTransportStatistics& Of(Medium medium) { return medium == Medium::kVideo ? video : voice; }
    // Video only: voice is neither asked for again nor sent again.
    uint64_t nacksSent = 0;  // NACK messages, each asking one or more packets
    uint64_t nacksReceived = 0;
    uint64_t pictureLossSent = 0;
    uint64_t pictureLossReceived = 0;
    uint64_t packetsRetransmitted = 0;    // sent again to this peer
    uint64_t retransmissionsRefused = 0;  // asked for, held, but beyond its budget
    uint64_t packetsRecovered = 0;        // asked for by us and arrived afterwards
    // Both media, in an encrypted room.
    bool encrypted = false;
    ProtectionFigures protection;
};
