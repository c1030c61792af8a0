// One relayed address on a relay server for one socket, kept alive for as
// long as the socket needs it, and the framing of what goes through it.
//
// Driven only by the time, what the server sent and the caller's requests;
// it reaches the network through its port, so its rules are tested without
// a socket. Not locked: the socket's thread alone calls it (the counters may
// be read anywhere).
//
// Its life: Allocate without credentials, the server's 401 gives realm and
// nonce, Allocate again with them (a second 401 means wrong credentials:
// one event, nothing more sent). 438 takes the new nonce and sends again at
// once; 437 (the server still holds an allocation for this address) waits
// and tries again, twice, then asks for new ports; 300 follows the alternate
// server under the redirect rules. Once allocated: Refresh before the
// lifetime ends, CreatePermission for each peer's address and ChannelBind for
// each peer's address and port, both again every 240 s; a Binding request
// when the server has been silent while media went out, whose loss means the
// server is gone. Close releases it (Refresh with lifetime 0).
#pragma once

#include "transport/relay/relay_counters.h"
#include "transport/relay/relay_port.h"
#include "transport/relay/stun_integrity.h"
#include "transport/relay/stun_message.h"
#include "transport/relay/stun_transaction.h"
#include "transport/rtp/rtp_random.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace relay {

enum class RelayTransport : uint8_t { kUdp, kTcp };

struct RelayServer {
    rtp::RTPIPv4Address address;
    std::string username;
    std::string password;
    RelayTransport transport = RelayTransport::kUdp;
};

// How the relayed port is chosen: the RTP socket asks for an even port and
// for the one above to be kept (its answer carries a token), the RTCP socket
// then asks for that port with the token.
struct PortRequest {
    bool reserveNextPort = false;
    std::optional<ReservationToken> reservedPort;
};

// What the server relayed from a peer; payload points into the received bytes.
struct RelayedDatagram {
    rtp::RTPIPv4Address peer;
    std::span<const uint8_t> payload;
};

enum class AllocationState : uint8_t { kIdle, kAllocating, kWaitingToRetry, kAllocated, kClosing, kClosed, kFailed };

class Allocation {
public:
    static constexpr int64_t kNever = INT64_MAX;
    // Lifetime asked for when the server's answer names none, in seconds.
    static constexpr uint32_t kDefaultLifetimeSeconds = 600;
    // A refresh goes this long before the lifetime ends, or at half of a
    // lifetime shorter than twice this.
    static constexpr int64_t kRefreshMarginMs = 60000;
    // Permissions last 300 s and channels 600 s on the server.
    static constexpr int64_t kPeerRefreshMs = 240000;
    // After a release the server refuses the same address for about a second.
    static constexpr int64_t kMismatchRetryMs = 1000;
    static constexpr int kMaxMismatchRetries = 2;
    static constexpr int kMaxStaleNonceResends = 3;
    static constexpr int kMaxRedirects = 3;
    // Longer usernames are not sent (nor would a server take them).
    static constexpr size_t kMaxUsernameBytes = 512;
    // Channels and permissions one allocation keeps: every port a room's
    // peers may be heard from, with room to spare.
    static constexpr size_t kMaxChannels = 64;
    // Silence from the server this long while media goes out asks it for a
    // Binding answer; with its give-up time that finds a dead server in 4.1 s,
    // inside 5 s with room for a loaded machine (4.6-5.3 s measured with 1.5 s).
    static constexpr int64_t kSilenceBeforeProbeMs = 1000;

    Allocation(RelayPort& port, rtp::RTPRandom& random, RelayServer server, PortRequest portRequest);
    Allocation(const Allocation&) = delete;
    Allocation& operator=(const Allocation&) = delete;

    // kAuthenticationFailed at once for a username too long to send.
    void Start(int64_t nowMs);
    // Retransmissions, retries and refreshes that are due.
    void OnTimer(int64_t nowMs);
    // When OnTimer has something to do next.
    int64_t NextTimerMs() const;

    enum class Received { kAnswer, kRelayed, kDropped };
    // A datagram from the server (over TCP: one message from the
    // StreamDeframer). kRelayed fills `relayed`, which points into `bytes`.
    Received OnServerDatagram(std::span<const uint8_t> bytes, int64_t nowMs, RelayedDatagram* relayed);

    // Lets `peer` send to the relayed address and binds it a channel; the
    // requests go out now or once allocated. False when the tables are full.
    bool AddPeer(const rtp::RTPIPv4Address& peer, int64_t nowMs);
    // Sends `payload` to an added peer through the relay: as ChannelData once
    // its channel is bound, as a Send indication until then. False when not
    // allocated, not a peer, too long, or the port did not send.
    bool SendToPeer(const rtp::RTPIPv4Address& peer, std::span<const uint8_t> payload, int64_t nowMs);

    // Releases the allocation; kClosed follows its answer or its give-up.
    void Close(int64_t nowMs);

    AllocationState State() const { return state_; }
    // Where datagrams go, and the only source whose datagrams are for OnServerDatagram.
    const rtp::RTPIPv4Address& Server() const { return server_.address; }
    // Known once allocated.
    const rtp::RTPIPv4Address& RelayedAddress() const { return relayed_; }
    const std::optional<rtp::RTPIPv4Address>& MappedAddress() const { return mapped_; }
    const std::optional<ReservationToken>& Token() const { return token_; }
    const RelayCounters& Counters() const { return counters_; }

private:
    enum class Request : uint8_t { kAllocate, kRefresh, kClose, kPermission, kChannelBind, kProbe };
    struct Pending {
        Request request;
        StunTransaction transaction;
        size_t peerIndex;                // of the permission or channel concerned
        int staleNonces;                 // times sent again for a new nonce
        std::optional<LongTermKey> key;  // what it was signed with, and its answer must be
    };
    // Permissions and channels are never removed, so their indices stay.
    struct Permission {
        uint32_t address;
        int64_t refreshAtMs;  // kNever while a request is out
        bool refused = false;
    };
    struct Channel {
        rtp::RTPIPv4Address peer;
        uint16_t number;
        int64_t refreshAtMs;
        bool bound = false;
        bool refused = false;
    };

    void Send(Request request, size_t peerIndex, int64_t nowMs, int staleNonces = 0);
    std::vector<uint8_t> Build(Request request, size_t peerIndex, const TransactionId& id) const;
    bool SendPieces(std::span<const Piece> pieces);
    void OnAnswer(const Pending& pending, const StunMessage& answer, int64_t nowMs);
    void OnAllocateAnswer(const Pending& pending, const StunMessage& answer, int errorCode, int64_t nowMs);
    void OnAllocated(const StunMessage& answer, int64_t nowMs);
    void OnRefreshAnswer(const StunMessage& answer, int errorCode, int64_t nowMs);
    void OnPeerAnswer(const Pending& pending, int errorCode, int64_t nowMs);
    void OnGivenUp(const Pending& pending, int64_t nowMs);
    bool TakeNonce(const StunMessage& answer);
    bool FollowRedirect(const StunMessage& answer, int64_t nowMs);
    void ScheduleRefresh(uint32_t lifetimeSeconds, int64_t nowMs);
    void RequestPeers(int64_t nowMs);
    bool ShouldProbe() const;
    void Fail(RelayEventKind kind, uint16_t method, int errorCode = 0);
    void Report(RelayEventKind kind, uint16_t method, int errorCode = 0, rtp::RTPIPv4Address address = {});
    Received OnChannelData(std::span<const uint8_t> bytes, RelayedDatagram* relayed);
    Received OnDataIndication(const StunMessage& message, RelayedDatagram* relayed);
    Received Relayed(const rtp::RTPIPv4Address& peer, std::span<const uint8_t> payload, RelayedDatagram* relayed);
    Permission* FindPermission(uint32_t address);
    Channel* FindChannel(const rtp::RTPIPv4Address& peer);
    bool Reliable() const { return server_.transport == RelayTransport::kTcp; }

    RelayPort& port_;
    rtp::RTPRandom& random_;
    RelayServer server_;
    const PortRequest portRequest_;
    AllocationState state_ = AllocationState::kIdle;
    // Long-term credentials, from the server's 401.
    std::string realm_;
    std::string nonce_;
    std::optional<LongTermKey> key_;
    std::vector<rtp::RTPIPv4Address> triedServers_;
    int mismatchRetries_ = 0;
    int64_t startMs_ = 0;
    int64_t retryAtMs_ = 0;
    int64_t refreshAtMs_ = 0;  // kNever while a refresh is out
    int64_t lastHeardMs_ = 0;
    int64_t lastSentMs_ = 0;
    rtp::RTPIPv4Address relayed_;
    std::optional<rtp::RTPIPv4Address> mapped_;
    std::optional<ReservationToken> token_;
    std::vector<Pending> pending_;
    std::vector<Permission> permissions_;
    std::vector<Channel> channels_;
    RelayCounters counters_;
};

}  // namespace relay
