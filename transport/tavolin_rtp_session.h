// The transmission's RTP session: learns its public address from the address
// server before it accepts any RTP, unless the owner lets it hear the players
// without (a server that does not answer); the server's answer is looked for
// in every datagram until it comes. Hands received packets to its owner.
// The video session also hands picture loss indications to its owner and,
// with repair, keeps what it sent, answers NACKs and asks its senders for
// the packets missing from their sequence.
#pragma once

#include "transport/medium.h"
#include "transport/peer_table.h"
#include "transport/rtp/rtp_session.h"
#include "transport/video_repair.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class CTavolinTransmission;

class CTavolinRTPSession : public rtp::RTPSession, private VideoRepairPort {
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
    void TakeAddressReply(rtp::RTPRawPacket& packet);
    // RTP must come from a player's pair of this medium; RTCP from a
    // player's address, on any port, because a translator maps the RTCP
    // socket to a port of its own. Datagrams from anyone else are dropped
    // before they reach the source table, so strangers cannot crowd out
    // players or stretch the report interval.
    bool HearsRtpFrom(const rtp::RTPIPv4Address& sender) const;
    bool HearsRtcpFrom(const rtp::RTPIPv4Address& sender) const;

    // VideoRepairPort, on the poll thread with the data-access lock held.
    bool SendAgain(const rtp::RTPIPv4Address& pair, const uint8_t* packet, size_t length) override;
    bool SendNack(const rtp::RTPIPv4Address& sender, uint32_t ssrc, const std::vector<uint16_t>& numbers) override;
    NackTiming TimingOf(uint32_t ssrc) override;

    std::unique_ptr<VideoRepair> repair_;
};
