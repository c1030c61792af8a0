// The transmission's RTP session: learns its public address from the address
// server before it accepts any RTP, unless the owner lets it hear the players
// without (a server that does not answer); the server's answer is looked for
// in every datagram until it comes. Hands received packets to its owner.
// The video session also hands picture loss indications to its owner and,
// with repair, keeps what it sent, answers NACKs and asks its senders for
// the packets missing from their sequence.
#pragma once

#include "transport/address/address_datagram.h"
#include "transport/medium.h"
#include "transport/pacing/arrival_delay.h"
#include "transport/pacing/path_queues.h"
#include "transport/peer_table.h"
#include "transport/rtp/rtp_session.h"
#include "transport/rtp/rtp_udpv4_transmitter.h"
#include "transport/session_protection.h"
#include "transport/session_relay.h"
#include "transport/unsent_sequences.h"
#include "transport/video_repair.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

class CTavolinTransmission;

class CTavolinRTPSession : public rtp::RTPSession,
                           private VideoRepairPort,
                           private rtp::RTPSendRoute,
                           private rtp::RTPDatagramSource,
                           private SessionRelay::Sockets {
public:
    static constexpr int32_t kVoice = 0;
    static constexpr int32_t kVideo = 1;

    // Stops the poll thread while this object's overrides still exist.
    ~CTavolinRTPSession() override;

    // Sends the scrambled request with `data` as payload from the RTP socket,
    // unless the public address is known already.
    void RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);

    // Before the session opens: whether it repairs lost video.
    void SetRepair(bool on);
    const VideoRepair* RepairForTesting() const { return repair_.get(); }
    UnsentSequences& Unsent() { return unsent_; }

    // Before Create: everything for the players goes through the first of
    // `servers` (the next when one fails), whose relayed address becomes the
    // session's public address in place of the address server's answer.
    // StartRelay once the session is open.
    // `whenNeeded`: only when the server sees the RTP socket at another port
    // than the address server did (the translator maps per destination, and
    // hole punching would fail), or when only the server answers at all.
    void UseRelay(std::vector<relay::RelayServer> servers, rtp::RTPRandom& random, bool whenNeeded = false);
    void StartRelay();
    // Null when the session is not relayed.
    SessionRelay* Relay() const { return relay_.get(); }

    // Before Create: the session of an encrypted room protects what it
    // sends and opens what the players send before anything reads it.
    void UseProtection();
    // Null in a plain room.
    SessionProtection* Protection() const { return protection_.get(); }

    CTavolinTransmission* owner = nullptr;  // not owned
    int32_t kind = kVoice;
    // The owner's players: once the public address is known, only they are
    // heard. Not owned.
    const PeerTable* peers = nullptr;
    // The owner's measure of every peer's path queue, from its voice. Not owned.
    pacing::PathQueues* pathQueues = nullptr;
    Medium GetMedium() const { return kind == kVideo ? Medium::kVideo : Medium::kVoice; }

    // Address discovery state: the poll thread writes it, the owner's thread
    // reads it.
    std::atomic<uint32_t> publicAddress{0};
    std::atomic<uint16_t> publicPort{0};
    std::atomic<uint32_t> serverAddress{0};
    std::atomic<uint16_t> serverPort{0};
    std::atomic<bool> hasPublicAddress{false};
    // Set by the owner: RTP from the players is heard before the public address is known.
    std::atomic<bool> hearsPlayersWithoutAddress{false};

protected:
    bool OnRawPacket(rtp::RTPRawPacket* packet) override;
    void OnPollThreadStep() override;
    double PollWaitSeconds(double seconds) override;
    void OnClosing() override;
    void OnPacketSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                      const rtp::RTPIPv4Address* destination) override;
    void OnRemoveSource(rtp::RTPSourceData* source) override;
    void OnRTCPCompoundPacket(rtp::RTCPCompoundPacket* packet, double receiveTime,
                              const rtp::RTPIPv4Address* sender) override;
    void OnFeedback(rtp::RTCPFeedbackKind kind, uint32_t senderSSRC, uint32_t mediaSSRC, const uint16_t* lost,
                    size_t lostCount, double receiveTime, const rtp::RTPIPv4Address* sender) override;
    void OnReceiverEstimate(uint32_t senderSSRC, uint64_t bitsPerSecond, const std::vector<uint32_t>& ssrcs,
                            double receiveTime, const rtp::RTPIPv4Address* sender) override;

private:
    // Poll thread, data-access lock held.
    bool IsFromServer(const rtp::RTPIPv4Address& sender) const;
    void TakeAddressReply(rtp::RTPRawPacket& packet);
    // RTP must come from a player's pair of this medium; RTCP from a
    // player's address, on any port, because a translator maps the RTCP
    // socket to a port of its own. Datagrams from anyone else are dropped
    // before they reach the source table, so strangers cannot crowd out
    // players or stretch the report interval.
    bool HearsRtpFrom(const rtp::RTPIPv4Address& sender) const;
    bool HearsRtcpFrom(const rtp::RTPIPv4Address& sender) const;
    bool HearsFrom(rtp::RTPRawPacket& packet);
    // A player's datagram, opened in place with the keys of the player its
    // source names; false when it did not open (or no player is named).
    bool Opened(rtp::RTPRawPacket& packet);
    const PeerEntry* ProtectedSender(const PeerSnapshot& players, const rtp::RTPRawPacket& packet);
    // What the relay server sent: false when it was for the relay alone;
    // true when it carried a peer's datagram, which `packet` now is.
    bool UnwrapRelayed(rtp::RTPRawPacket& packet);
    // Where a relayed datagram is from, for everything above: its peer's
    // pair when the peer is latched, or proves now that it may be.
    rtp::RTPIPv4Address PeerOfRelayed(bool rtpChannel, const relay::RelayedDatagram& relayed);
    // Poll thread: tells the owner the relayed address (again, after a
    // refused post).
    void PostRelayedAddress();
    // Poll thread, policy "when needed": relays, or tells the address
    // server's answer, once the probe and that answer allow a choice.
    void DecideRelay();
    bool PostAddressAnswer(const address_exchange::PublicAddress& answer);

    // RTPSendRoute: under the transmitter's lock. Everything but the
    // address server's datagrams goes through the relay.
    bool Divert(bool rtpChannel, std::span<const uint8_t> datagram, const rtp::RTPIPv4Address& destination) override;
    // RTPDatagramSource: what the relay's connections carry, on the poll thread.
    size_t PollDescriptors(pollfd* descriptors) override { return relay_->PollDescriptors(descriptors); }
    bool HasWaiting() override { return relay_->HasWaiting(); }
    bool NextDatagram(rtp::RTPRawPacket* into, const rtp::RTPReceiveLimits& limits, double receiveTime) override {
        return relay_->NextDatagram(into, limits, receiveTime);
    }
    // SessionRelay::Sockets, under the relay's lock.
    bool SendPieces(bool rtpChannel, const rtp::RTPIPv4Address& to, std::span<const relay::Piece> pieces) override;
    void OnRelayed(const rtp::RTPIPv4Address& relayed, const rtp::RTPIPv4Address& mapped) override;

    // VideoRepairPort, on the poll thread with the data-access lock held.
    bool SendAgain(const rtp::RTPIPv4Address& pair, const uint8_t* packet, size_t length) override;
    bool SendNack(const rtp::RTPIPv4Address& sender, uint32_t ssrc, const std::vector<uint16_t>& numbers) override;
    NackTiming TimingOf(uint32_t ssrc) override;

    // Poll thread, video: what every sender's frames tell of its path, and
    // the estimates sent back to each.
    void SendArrivalEstimates(const PeerSnapshot& players, double now);
    // The player whose pair of this medium a source sends from.
    const PeerEntry* SenderOf(const PeerSnapshot& players, const rtp::RTPSourceData& source) const;
    pacing::ArrivalDelays arrivals_;
    UnsentSequences unsent_;
    std::unique_ptr<VideoRepair> repair_;
    std::unique_ptr<SessionRelay> relay_;
    std::unique_ptr<SessionProtection> protection_;
    // Poll thread: the relayed and mapped addresses, while the owner has not
    // taken them.
    std::optional<std::pair<rtp::RTPIPv4Address, rtp::RTPIPv4Address>> relayedToPost_;
    // Poll thread, policy "when needed": the address server's answer held
    // while the probe runs; the choice once made.
    bool relayWhenNeeded_ = false;
    bool relayDecided_ = false;
    std::optional<address_exchange::PublicAddress> heldAnswer_;
};
