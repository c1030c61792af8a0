// One RTP session's sockets relayed through a relay server: the RTP socket
// allocates an even port with the next one kept, then the RTCP socket takes
// that next port, so peers find our RTCP one above our RTP as always. What
// the session sends to a peer goes through the allocation of its socket;
// what the server relays comes back as the peer's own datagram.
//
// Over TCP each socket's allocation has a connection of its own to the
// server (see RelayStream), polled with the sockets; what it carries comes
// in as if the server had sent it to that socket. A dropped connection is
// made again once; dropped again before the allocations stand, it is the
// server failing us, as a refused refresh is.
//
// Its allocations are driven on the session's poll thread and fed from any
// sending thread, under one lock. The sender's and listener's calls come
// with that lock held: they must not call the relay back.
#pragma once

#include "transport/peer_latching.h"
#include "transport/relay/allocation.h"
#include "transport/relay/binding_probe.h"
#include "transport/relay/relay_port.h"
#include "transport/relay_stream.h"
#include "transport/rtp/rtp_raw_packet.h"
#include "transport/rtp/rtp_udpv4_transmitter.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// What a session's relay has done, for the host: any thread.
struct SessionRelayFigures {
    bool relayed = false;        // both sockets allocated
    bool failed = false;         // the last server failed us too (see lastEvent)
    rtp::RTPIPv4Address server;  // in use
    rtp::RTPIPv4Address relayedAddress;
    uint64_t allocations = 0;          // times both sockets were allocated
    uint64_t failures = 0;             // servers that failed us
    uint64_t failovers = 0;            // of them, those given up for the next one
    rtp::RTPIPv4Address failedServer;  // the last that failed
    relay::RelayEventKind lastEvent = relay::RelayEventKind::kClosed;
    int lastErrorCode = 0;
    // Counts of every allocation since Start; the allocation time is the current one's.
    relay::RelayFigures rtp;   // the RTP socket's allocations
    relay::RelayFigures rtcp;  // the RTCP socket's
};

class SessionRelay {
public:
    // The session's sockets (rtpChannel: the RTP socket, else the RTCP one).
    class Sockets {
    public:
        virtual bool SendPieces(bool rtpChannel, const rtp::RTPIPv4Address& to,
                                std::span<const relay::Piece> pieces) = 0;
        // Both sockets are allocated: `relayed` is the session's address as
        // peers must know it, `mapped` the address the server saw us at.
        virtual void OnRelayed(const rtp::RTPIPv4Address& relayed, const rtp::RTPIPv4Address& mapped) = 0;

    protected:
        ~Sockets() = default;
    };

    // `servers` in order: when one fails the session (refused, unanswered,
    // silent while media goes out), both sockets allocate on the next, whose
    // relayed address is then told through OnRelayed as the new one.
    SessionRelay(Sockets& sockets, rtp::RTPRandom& random, std::vector<relay::RelayServer> servers);
    SessionRelay(const SessionRelay&) = delete;
    SessionRelay& operator=(const SessionRelay&) = delete;

    // Monotonic milliseconds, the allocations' clock.
    static int64_t NowMs();

    void Start(int64_t nowMs);
    // Whether Start was called: from then on everything for the players goes through the relay.
    bool Started();
    // Before Start, for the policy "when needed": one Binding request to the
    // server from the RTP socket, to see whether it sees us at the port the
    // address server saw.
    void Probe(int64_t nowMs);
    // True while the probe waits for its answer.
    bool Probing();
    // Where the server saw us, once the probe was answered.
    std::optional<rtp::RTPIPv4Address> ProbedAddress();
    void OnTimer(int64_t nowMs);
    int64_t NextTimerMs();
    // Releases both allocations (one Refresh with lifetime 0 each).
    void Close(int64_t nowMs);

    // Poll thread, over TCP: the connections' descriptors (see
    // rtp::RTPDatagramSource), whether a message waits, and the next one as
    // the server's datagram to that socket.
    size_t PollDescriptors(pollfd* descriptors);
    bool HasWaiting();
    bool NextDatagram(rtp::RTPRawPacket* into, const rtp::RTPReceiveLimits& limits, double receiveTime);
    // Over TCP the probe's port is its connection's, and says nothing of how
    // the translator maps UDP.
    bool OverStream();

    // Whether a datagram from `sender` is the server's: on the socket for a
    // server over UDP, on the connection for one over TCP.
    bool IsServer(bool rtpChannel, const rtp::RTPIPv4Address& sender, bool overConnection);
    relay::Allocation::Received OnServerDatagram(bool rtpChannel, std::span<const uint8_t> bytes, int64_t nowMs,
                                                 relay::RelayedDatagram* relayed);
    // A datagram for `peer` through the relay; false before Start (it goes
    // directly then). Until both sockets are allocated, and after a failure,
    // it is dropped: a relayed session never shows peers the address it hides.
    bool Send(bool rtpChannel, std::span<const uint8_t> datagram, const rtp::RTPIPv4Address& peer);

    // A peer seen at another port than its pair (see peer_latching.h):
    // from now on the pair's datagrams go to `seen`, and what comes from
    // `seen` is the pair's.
    // True once latched (a greeting alone latches only when confirmed).
    bool Latch(bool rtpChannel, const LatchProof& proof, const rtp::RTPIPv4Address& seen, int64_t nowMs);
    // The pair `seen` is latched for, unless `seen` is a player's own pair
    // (`ownPair`), which ends any latch to it.
    std::optional<rtp::RTPIPv4Address> LatchedPairOf(bool rtpChannel, const rtp::RTPIPv4Address& seen, bool ownPair);

    SessionRelayFigures Figures();

private:
    struct SocketPort : relay::RelayPort {
        SocketPort(SessionRelay& owner, bool rtpChannel) : owner(owner), rtpChannel(rtpChannel) {}
        bool SendToServer(const rtp::RTPIPv4Address& server, std::span<const relay::Piece> pieces) override;
        void OnRelayEvent(const relay::RelayEvent& event) override;
        SessionRelay& owner;
        const bool rtpChannel;
    };

    // The probe's answer is read from it; its events tell nothing more.
    struct ProbePort : relay::RelayPort {
        explicit ProbePort(SessionRelay& owner) : owner(owner) {}
        bool SendToServer(const rtp::RTPIPv4Address& server, std::span<const relay::Piece> pieces) override {
            return owner.SendToServer(true, server, pieces);
        }
        void OnRelayEvent(const relay::RelayEvent&) override {}
        SessionRelay& owner;
    };

    // Over the socket, or over its connection to `server` (made when there is none to it).
    bool SendToServer(bool rtpChannel, const rtp::RTPIPv4Address& server, std::span<const relay::Piece> pieces);
    // Opens, flushes and watches the connections; a dropped one fails the server.
    void ServiceStreams();
    void OnEvent(bool rtpChannel, const relay::RelayEvent& event);
    void OnFailed(const relay::RelayEvent& event);
    // Releases what is left on the server and allocates again: on the next
    // server when one failed, else on the same (a dropped connection).
    void Reallocate(int64_t nowMs);
    const relay::RelayServer& Current() const { return servers_[serverIndex_]; }
    std::optional<relay::Allocation>& Of(bool rtpChannel) { return rtpChannel ? rtp_ : rtcp_; }
    PeerLatches& LatchesOf(bool rtpChannel) { return rtpChannel ? rtpLatches_ : rtcpLatches_; }
    std::optional<RelayStream>& StreamOf(bool rtpChannel) { return rtpChannel ? rtpStream_ : rtcpStream_; }

    Sockets& sockets_;
    rtp::RTPRandom& random_;
    const std::vector<relay::RelayServer> servers_;
    SocketPort rtpPort_{*this, true};
    SocketPort rtcpPort_{*this, false};
    ProbePort probePort_{*this};
    std::mutex lock_;
    std::optional<relay::Allocation> rtp_;      // under lock_
    std::optional<relay::Allocation> rtcp_;     // under lock_
    std::optional<relay::BindingProbe> probe_;  // under lock_
    std::optional<RelayStream> rtpStream_;      // under lock_, over TCP
    std::optional<RelayStream> rtcpStream_;     // under lock_, over TCP
    PeerLatches rtpLatches_;                    // under lock_
    PeerLatches rtcpLatches_;                   // under lock_
    int64_t nowMs_ = 0;                         // of the call in progress, under lock_
    bool relayed_ = false;                      // under lock_
    bool failed_ = false;                       // under lock_
    // Failover state and counts, under lock_.
    size_t serverIndex_ = 0;
    bool failoverDue_ = false;
    bool reconnectDue_ = false;
    uint64_t allocations_ = 0;
    uint64_t failures_ = 0;
    uint64_t failovers_ = 0;
    rtp::RTPIPv4Address failedServer_;
    relay::RelayFigures pastRtp_;
    relay::RelayFigures pastRtcp_;
    relay::RelayEventKind lastEvent_ = relay::RelayEventKind::kClosed;
    int lastErrorCode_ = 0;
};
