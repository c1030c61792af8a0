// The engine's network side: two RTP sessions (voice, video), the table of up
// to 16 peers with their public and local address pairs, the receive queues
// that carry packets from the poll threads to the window thread, and the
// public-address discovery and greeting of peers.
#pragma once

#include "platform/win32.h"
#include "transport/medium.h"
#include "transport/paced_sender.h"
#include "transport/pacing/path_queues.h"
#include "transport/pacing/send_budget.h"
#include "transport/packet_sink.h"
#include "transport/peer_statistics.h"
#include "transport/peer_table.h"
#include "transport/relay_settings.h"
#include "transport/room_keys.h"
#include "transport/session_relay.h"
#include "transport/transmission_constants.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace rtp {
class RTPRandom;
class RTPSourceData;
}  // namespace rtp
class CTavolinRTPSession;

// A received packet waiting for the window thread, with its sender.
struct QueuedPacket {
    uint32_t address;
    uint16_t port;
    rtp::RTPPacket* packet;
};

// Received packets of one medium on their way from a poll thread to the
// window thread. One message announces everything queued until it is handled:
// a post the full message queue refuses leaves the packets unannounced, and
// the poll thread announces them again after its next round.
struct ReceiveQueue {
    std::deque<QueuedPacket> packets;
    CRITICAL_SECTION lock;
    bool announced = false;            // under lock
    std::atomic<uint64_t> dropped{0};  // beyond the bound, given back at once
};

class CTavolinTransmission : public ITavolinPacketReleaser {
public:
    CTavolinTransmission();
    ~CTavolinTransmission();
    CTavolinTransmission(const CTavolinTransmission&) = delete;
    CTavolinTransmission& operator=(const CTavolinTransmission&) = delete;

    void DeleteVideoPacket(rtp::RTPPacket* packet) override;
    void DeleteAudioPacket(rtp::RTPPacket* packet) override;

    void SetLogSink(ITavolinLogSink* sink);
    void SetObserver(ITransmissionObserver* observer) { observer_ = observer; }
    // Where Create draws its port bases: the process's own generator unless
    // a test sets another. Never the C library's rand(), which is the host's.
    void SetPortRandom(rtp::RTPRandom* random) { portRandom_ = random; }

    // Before Create: whether the sessions relay, and through which servers.
    void SetRelay(RelaySettings settings) { relay_ = std::move(settings); }
    // Whether the medium's session relays; its figures when it does.
    bool GetRelayFigures(Medium medium, SessionRelayFigures* out) const;

    // Before Create: an encrypted room, whose sessions protect everything
    // with the keys of SetRoomKeys and hear only what opens with a peer's.
    // Create fails in an encrypted room without keys, or with keys whose
    // epoch this process sent with before.
    void SetEncrypted(bool on) { encrypted_ = on; }
    bool IsEncrypted() const { return encrypted_; }
    // Before Create: whose keys this engine sends with.
    void SetLocalUserId(int32_t userId) { localUserId_ = userId; }
    // Engine thread, before Create and again for every newer epoch: false,
    // changing nothing, for an epoch not newer than the last, keys that
    // derive nothing, or (after Create) an own key libsrtp refuses.
    bool SetRoomKeys(RoomKeys keys);
    bool HasRoomKeys() const { return roomKeys_.has_value(); }
    // Engine thread: what the peer sent on both media that opened and what
    // did not; false in a plain room or for a peer without keys.
    bool GetProtectionFigures(int userId, ProtectionFigures* out) const;

    // The poll threads post `messages` to `window` from the moment the
    // sessions exist.
    int Create(HWND window, const TransmissionMessages& messages);
    // Every packet is back with its session before the sessions close: the
    // packet sinks give back what they hold, the queues are emptied.
    int Destroy();

    int AddUser(int userId, uint32_t publicAddress, uint32_t localAddress, ITavolinPacketSink* sink);
    int SetUserAudioPort(int userId, uint16_t publicPort, uint16_t localPort);
    int SetUserVideoPort(int userId, uint16_t publicPort, uint16_t localPort);
    int SetUserPort(int userId, Medium medium, uint16_t publicPort, uint16_t localPort);
    int RemoveUser(int userId);

    // Engine thread: asks the peer for a key frame with a picture loss
    // indication about its video source `mediaSSRC` (rate-limited).
    void RequestKeyFrame(int userId, uint32_t mediaSSRC);
    // Engine thread: whether a peer asked for a key frame since the last call.
    bool TakeKeyFrameRequest() { return keyFrameRequested_.exchange(false); }

    // Video poll thread: a picture loss indication about our video from
    // `asker` (null: not a player).
    void OnPictureLossReceived(const PeerEntry* asker);

    // Video poll thread: the peer's estimate of what its path from us carries.
    void OnReceiverEstimate(int userId, double bitsPerSecond, double receiveTime);
    // Engine thread: every peer's reports about our media and its latest
    // estimate, for the send budget; *now is the clock they are on.
    void GetUplinkReports(std::vector<pacing::PeerReport>* out, double* now);
    // The peer's latest estimate, bits/s; -1000 when it sent none.
    double EstimateOf(int userId);

    // Engine thread: the figures of one peer; false for an unknown user.
    bool GetPeerStatistics(int userId, PeerTransportStatistics* out);
    // Media packets sent on the medium, each to every peer, with their RTP
    // headers; any thread.
    TrafficCount GetSentTraffic(Medium medium) const { return sent_[medium].Read(); }

    // A coded frame: NextVideoFrame, its fragments with SendVideo, then
    // EndVideoFrame. The fragments leave from the pacer's thread at the
    // video budget's pace, the frame's timestamp advancing before its first.
    int NextVideoFrame();
    bool SendVideo(const void* data, size_t length);
    void EndVideoFrame();
    // Engine thread: the pace of one video stream, bits/s (0: unpaced), and
    // the peers whose video is held back (they still get RTCP and voice).
    // On a congested uplink the pace is strict and each paced datagram's
    // copies to the peers are spread over its slot; otherwise they leave
    // together (the copies to later peers would only wait).
    void SetVideoBudget(double bitsPerSecond, bool congested) {
        videoPacer_.SetBudget(bitsPerSecond, congested);
        spreadVideoCopies_ = congested;
    }
    // How long the oldest video datagram the pacer holds has waited: a pacer
    // whose thread cannot keep up (a starved machine) holds ever more.
    double VideoBacklogSeconds() const { return videoPacer_.BacklogSeconds(); }
    void HoldVideoTo(const std::vector<int>& userIds);
    bool SendAudio(const void* data, size_t length);

    int RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);
    void RetryPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);
    bool HasPublicAddresses() const;
    // Once the server has left the first request unanswered for a retry
    // period: the sessions hear the players of the table without their public
    // address, which they still take whenever the server answers.
    void HearPlayersWithoutPublicAddress();
    void GreetPeers();
    void SendTrans();

    // Window thread: everything queued for the medium.
    void OnAudioReceived();
    void OnVideoReceived();

    uint16_t GetLocalAudioPort() const;
    uint16_t GetLocalVideoPort() const;
    // The session's own SSRC; 0 before Create.
    uint32_t GetLocalSsrc(Medium medium) const;

    // Poll threads. A packet beyond the queue bound is given back at once.
    void QueueAudioPacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet);
    void QueueVideoPacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet);
    void QueuePacket(Medium medium, rtp::RTPSourceData* source, rtp::RTPPacket* packet);
    // Poll threads: posts the message for packets a refused post left waiting.
    void AnnounceWaitingPackets(Medium medium);
    // Poll thread: a session has learned its public address (kind 0 voice, 1
    // video). False when the window could not be told; the session then asks
    // the server again on the next retry.
    bool OnPublicAddress(uint32_t address, uint16_t port, int kind);
    // Poll thread: a relayed session's public address is its relayed one;
    // `mappedAddress`, where the relay server saw us, is our own public
    // address when telling whether a peer shares it.
    bool OnRelayedAddress(const rtp::RTPIPv4Address& relayed, uint32_t mappedAddress, int kind);

    // Window thread: "HI" (hello) or "REHI" to the peer's current pair.
    void SendHello(PeerEntry& peer, bool hello, Medium medium);
    void SwitchToLocalAddress(PeerEntry& peer);

    // Observation points for tests.
    int PeerCountForTesting() const { return peers.Count(); }
    const PeerEntry* PeerAtForTesting(int index) const;
    uint64_t DroppedAudioPacketsForTesting() const { return audioQueue.dropped.load(); }
    size_t QueuedPacketsForTesting(bool video);
    uint64_t DroppedVideoPacketsForTesting() const { return videoQueue.dropped.load(); }
    CTavolinRTPSession* AudioSessionForTesting() const { return audioSession.get(); }
    CTavolinRTPSession* VideoSessionForTesting() const { return videoSession.get(); }

private:
    CTavolinRTPSession* Session(Medium medium) const {
        return (medium == Medium::kVideo ? videoSession : audioSession).get();
    }
    ReceiveQueue& Queue(Medium medium) { return medium == Medium::kVideo ? videoQueue : audioQueue; }

    int OpenSession(CTavolinRTPSession& session, double timestampUnit, size_t largestRtpBytes, uint16_t avoidPort,
                    uint16_t* port);
    void OnPacketReceived(Medium medium);
    void SendPacedVideo(bool firstOfFrame, const uint8_t* data, size_t length, double slotSeconds);
    std::vector<uint8_t> pacedScratch_;  // pacer thread
    std::atomic<bool> spreadVideoCopies_{false};
    bool HasQueuedVoice();
    void DeliverPacket(const QueuedPacket& item, Medium medium);
    void GiveBack(rtp::RTPPacket* packet, Medium medium);
    // sinksGaveBack: the sinks were asked for what they held.
    void CloseSession(std::unique_ptr<CTavolinRTPSession>& session, ReceiveQueue& queue, bool sinksGaveBack);
    // The destinations of the peer's pair in force, both media.
    void AddDestinations(const PeerEntry& peer);
    void DeleteDestinations(const PeerEntry& peer);
    bool PostPublicAddress(uint32_t address, uint16_t port, int kind, uint32_t ownAddress);
    // Our reception of the peer's source and its report about ours, from the
    // session's table (the source whose RTP or RTCP comes from the peer's pairs).
    void FillSourceFigures(const PeerEntry& peer, Medium medium, MediumTransportStatistics* out);
    // Whether the sessions are open and protect: keys go to them at once.
    bool Protecting() const;
    // The sessions' own keys and every peer's for the epoch of `keys`.
    bool InstallOwnKeys(const RoomKeys& keys);
    void InstallPeerKeys(const RoomKeys& keys, int32_t userId);

    ITavolinLogSink* logSink = nullptr;
    ITransmissionObserver* observer_ = nullptr;
    rtp::RTPRandom* portRandom_;
    PeerTable peers;
    uint16_t audioPort = 0;
    uint16_t videoPort = 0;
    ReceiveQueue audioQueue;
    ReceiveQueue videoQueue;
    HWND window = nullptr;
    TransmissionMessages messages{};
    std::unique_ptr<CTavolinRTPSession> audioSession;
    std::unique_ptr<CTavolinRTPSession> videoSession;
    std::atomic<uint32_t> ownPublicAddress{transmission::kBroadcastAddress};
    RelaySettings relay_;
    bool encrypted_ = false;
    int32_t localUserId_ = 0;
    std::optional<RoomKeys> roomKeys_;  // engine thread

    PerMedium<TrafficCounter> sent_;  // media packets sent, each to every peer
    std::atomic<bool> keyFrameRequested_{false};
    PacedSender videoPacer_;  // stopped before the sessions close
    struct Estimate {
        double bitsPerSecond;
        double at;
    };
    std::mutex estimatesLock_;
    std::map<int, Estimate> estimates_;  // by user id, under estimatesLock_
    pacing::PathQueues pathQueues_;
};
