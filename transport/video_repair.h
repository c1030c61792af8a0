// Repair of lost video packets, both ways, for the video session that holds
// it: keeps what the session sent during the last second and answers a
// peer's NACKs with those very packets, within the peer's budget; notices the
// gaps in each source it receives and asks for what is missing. It is given
// the time and reaches the network only through its port, so its rules are
// tested without a socket. Counts go to the peers' records.
#pragma once

#include "transport/nack_compound_limit.h"
#include "transport/nack_requester.h"
#include "transport/peer_table.h"
#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/sent_packet_history.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

// What repair needs of its session.
class VideoRepairPort {
public:
    // A sent packet again, byte for byte, from the video RTP socket.
    virtual bool SendAgain(const rtp::RTPIPv4Address& pair, const uint8_t* packet, size_t length) = 0;
    // A NACK asking source `ssrc` for `numbers`, to the RTCP socket beside
    // `sender` (where its RTP comes from); false when refused as too soon
    // after the last one there, or not sent.
    virtual bool SendNack(const rtp::RTPIPv4Address& sender, uint32_t ssrc, const std::vector<uint16_t>& numbers) = 0;
    // When to ask source `ssrc`, from what its reports tell.
    virtual NackTiming TimingOf(uint32_t ssrc) = 0;

protected:
    ~VideoRepairPort() = default;
};

class VideoRepair {
public:
    explicit VideoRepair(VideoRepairPort& port) : port_(port) {}
    VideoRepair(const VideoRepair&) = delete;
    VideoRepair& operator=(const VideoRepair&) = delete;

    // Sending thread: the session sent `packet` at sendTime, to `destination`
    // alone (a greeting) or, when null, to every peer.
    void OnSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                const rtp::RTPIPv4Address* destination);

    // Poll thread, from here on.
    // A packet of source `ssrc` arrived from `sender` (null: not known).
    void OnArrival(const PeerSnapshot& peers, uint32_t ssrc, const rtp::RTPIPv4Address* sender, uint16_t sequence,
                   double now);
    void OnSourceRemoved(uint32_t ssrc) { missing_.erase(ssrc); }
    // One NACK per source with numbers due; numbers the port refused to ask
    // for stay due for the next round.
    void AskForMissing(const PeerSnapshot& peers, double now);
    // Before the NACKs of an RTCP compound: they are looked up together,
    // within the compound's limit.
    void BeginCompound() { compoundLimit_.BeginCompound(); }
    // A NACK about our video from `asker` (null: no player), answered with
    // the packets still held to its video pair in force. A packet that went
    // to another peer alone goes as a filler of its number. A refusal of the
    // asker's budget ends the answers to this compound.
    void OnNack(const PeerEntry* asker, const uint16_t* lost, size_t lostCount, double now);

    const SentPacketHistory& History() const { return sent_; }

    // A protected stream's packets can only go again as they were: a number
    // that went to another peer alone is not answered, since a filler would
    // reuse its packet index and the greeting itself would mislead.
    void SetProtected(bool on) { protected_ = on; }

private:
    // Gaps of one source, with where its RTP comes from.
    struct MissingVideo {
        NackRequester requester;
        rtp::RTPIPv4Address sender;
    };

    VideoRepairPort& port_;
    SentPacketHistory sent_;
    std::unordered_map<uint32_t, MissingVideo> missing_;
    NackCompoundLimit compoundLimit_;
    std::vector<uint16_t> numbers_;
    std::vector<uint8_t> packet_;
    bool protected_ = false;
};
