// The transmission's RTP session: learns its public address from the address
// server before it accepts any RTP, unless the owner lets it hear the players
// without (a server that does not answer); the server's answer is looked for
// in every datagram until it comes. Hands received packets to its owner.
// The video session also keeps what it sent for retransmission, hands NACKs
// and picture loss indications to its owner, and asks its senders for the
// packets missing from their sequence.
#pragma once

#include "transport/nack_compound_limit.h"
#include "transport/medium.h"
#include "transport/nack_requester.h"
#include "transport/peer_table.h"
#include "transport/rtp/rtp_session.h"
#include "transport/sent_packet_history.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

class CTavolinTransmission;

class CTavolinRTPSession : public rtp::RTPSession {
public:
    static constexpr int32_t kVoice = 0;
    static constexpr int32_t kVideo = 1;

    // Stops the poll thread while this object's overrides still exist.
    ~CTavolinRTPSession() override;

    // Sends the scrambled request with `data` as payload from the RTP socket,
    // unless the public address is known already.
    void RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);

    CTavolinTransmission* owner = nullptr;  // not owned
    int32_t kind = kVoice;
    // The owner's players: once the public address is known, only they are
    // heard. Not owned.
    const PeerTable* peers = nullptr;
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

    // Video: what SendPacket and SendPacketTo sent during the last second.
    SentPacketHistory sent;
    // Video: gaps are asked for, sent packets kept and NACKs answered; set
    // before the session opens.
    bool retransmission = true;

protected:
    bool OnRawPacket(rtp::RTPRawPacket* packet) override;
    void OnPollThreadStep() override;
    void OnPacketSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                      const rtp::RTPIPv4Address* destination) override;
    void OnRemoveSource(rtp::RTPSourceData* source) override;
    void OnRTCPCompoundPacket(rtp::RTCPCompoundPacket* packet, double receiveTime,
                              const rtp::RTPIPv4Address* sender) override;
    void OnFeedback(rtp::RTCPFeedbackKind kind, uint32_t senderSSRC, uint32_t mediaSSRC, const uint16_t* lost,
                    size_t lostCount, double receiveTime, const rtp::RTPIPv4Address* sender) override;

private:
    // Poll thread, data-access lock held.
    bool IsFromServer(const rtp::RTPIPv4Address& sender) const;
    // RTP must come from a player's pair of this medium; RTCP from a
    // player's address, on any port, because a translator maps the RTCP
    // socket to a port of its own. Datagrams from anyone else are dropped
    // before they reach the source table, so strangers cannot crowd out
    // players or stretch the report interval.
    bool HearsRtpFrom(const rtp::RTPIPv4Address& sender) const;
    bool HearsRtcpFrom(const rtp::RTPIPv4Address& sender) const;
    void TakeAddressReply(rtp::RTPRawPacket& packet);
    void NoteVideoArrival(rtp::RTPSourceData* source, const rtp::RTPPacket* packet, double now);
    void AskForMissingVideo(double now);

    // Gaps of each video source, with where its RTP comes from; poll thread only.
    struct MissingVideo {
        NackRequester requester;
        rtp::RTPIPv4Address sender;
    };
    std::unordered_map<uint32_t, MissingVideo> missingVideo_;
    // What the NACKs of the compound being read may still ask for; poll thread only.
    NackCompoundLimit nackLimit_;
    std::vector<uint16_t> nackNumbers_;
};
