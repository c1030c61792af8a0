// An RTP/RTCP session (RFC 3550) over UDP/IPv4: sends media to a list of
// destinations with its own SSRC, sequence numbers and timestamps; keeps a
// table of the other participants with their statistics; sends RTCP reports
// (SR or RR, SDES CNAME) on the interval of RFC 3550 A.7 and a BYE when it
// ends; and, by default, runs its own poll thread that receives, processes,
// reports and checks time-outs, calling OnPollThreadStep after every round.
//
// Additions for address discovery behind translators: SendPacketTo sends one
// packet to one address outside the destination list; SendRawData sends
// non-RTP bytes from either socket; and every received datagram passes
// OnRawPacket first, which may take it for itself or drop it before any RTP
// parsing or source bookkeeping.
//
// Feedback (RFC 4585): received generic NACKs and picture loss indications
// reach OnFeedback; SendFeedback sends them to one address at once. Every
// packet SendPacket, BuildPacket or SendPacketTo sent reaches OnPacketSent,
// so that a derived session can keep what it may have to send again.
//
// Threads: sends and destination changes may come from any thread. The
// source table and received packets are read between BeginDataAccess and
// EndDataAccess (a recursive lock the poll thread also holds while it
// processes datagrams and calls the callbacks below, except OnPollThreadStep
// and OnPollThreadError, which run without it).
//
// A derived session must end itself (Destroy or BYEDestroy) in its own
// destructor: the poll thread calls its overrides until then.
//
// Received packets: GetNextPacket hands out packets from a pool the session
// owns; each must be given back exactly once with DeletePacket (a second
// return, or a packet of another session, is ignored). Packets handed out
// stay valid across Destroy and BYEDestroy, and DeletePacket still takes
// them back then, but every packet must be given back before the session
// object itself is destroyed: its destructor frees the pool's storage.
#pragma once

#include "transport/rtp/rtcp_feedback.h"
#include "transport/rtp/rtcp_packet.h"
#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/rtp/rtp_packet.h"
#include "transport/rtp/rtp_raw_packet.h"
#include "transport/rtp/rtp_session_params.h"
#include "transport/rtp/rtp_source_data.h"
#include "transport/rtp/rtp_udpv4_transmission_params.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace rtp {

class RTPUDPv4Transmitter;
class RTPSendRoute;
class RTPDatagramSource;
class RTPSendTransform;
class RTPPacketBuilder;
class RTPPacketPool;
class RTPSources;
class RTCPScheduler;
class RTCPCompoundBuilder;
struct RTCPMembership;

class RTPSession {
public:
    RTPSession();
    virtual ~RTPSession();
    RTPSession(const RTPSession&) = delete;
    RTPSession& operator=(const RTPSession&) = delete;

    // Opens the sockets (null transmission parameters: the defaults), draws
    // SSRC, first sequence number and timestamp, and starts the poll thread
    // when the parameters ask for it. A busy port gives
    // kErrorCannotBindRTPSocket or kErrorCannotBindRTCPSocket.
    int Create(const RTPSessionParams& sessionParams, const RTPUDPv4TransmissionParams* transmissionParams = nullptr);
    // Stops the poll thread and closes the sockets without a BYE. The source
    // table and its waiting packets go back to the pool.
    void Destroy();
    // As Destroy, after sending an RTCP BYE with the reason (at most 255
    // bytes) to every destination. The BYE goes at once in small sessions
    // with immediate BYE (the default); otherwise it waits for its reconsidered
    // time (RFC 3550 6.3.7, a few seconds), but goes after maxWaitSeconds at
    // the latest.
    void BYEDestroy(double maxWaitSeconds, const void* reason, size_t reasonLength);
    bool IsActive() const { return created_.load(); }

    uint32_t GetLocalSSRC();

    int AddDestination(const RTPIPv4Address& address);
    int DeleteDestination(const RTPIPv4Address& address);
    void ClearDestinations();
    // RTP data skips these destinations until the next call; RTCP does not.
    void SetHeldDestinations(std::vector<RTPIPv4Address> held);
    // The IPv4 type-of-service byte of both sockets; after Create.
    int SetTypeOfService(int tos);

    // One RTP packet to every destination with the default payload type,
    // marker and timestamp increment.
    int SendPacket(const void* data, size_t length);
    // The same with explicit values; the timestamp advances by
    // timestampIncrement after the packet is built.
    int SendPacket(const void* data, size_t length, uint8_t payloadType, bool marker, uint32_t timestampIncrement);
    // One RTP packet built as SendPacket builds it and counted as sent, for
    // the caller to send to each of RtpDestinations itself (SendBuilt),
    // spacing the copies.
    int BuildPacket(const void* data, size_t length, uint8_t payloadType, bool marker, uint32_t timestampIncrement,
                    std::vector<uint8_t>* built);
    // The destinations RTP data goes to now (the held ones left out).
    std::vector<RTPIPv4Address> RtpDestinations() const;
    // The destinations an RTP packet did not reach: all but `only` when it
    // went to one alone, else the held ones.
    std::vector<RTPIPv4Address> UnreachedDestinations(const RTPIPv4Address* only) const;
    int SendBuilt(const std::vector<uint8_t>& built, const RTPIPv4Address& destination);
    // One RTP packet to one address: takes a sequence number, leaves the
    // timestamp where it is, and is not counted in sender reports.
    int SendPacketTo(const void* data, size_t length, uint8_t payloadType, bool marker,
                     const RTPIPv4Address& destination);
    // Bytes that are not RTP from the RTP socket (rtpChannel) or the RTCP
    // socket to a host-order address and port; refused above the maximum
    // packet size with kErrorPacketTooBig.
    int SendRawData(bool rtpChannel, const void* data, size_t length, uint32_t address, uint16_t port);
    // A feedback compound now, outside the report schedule: an RR without
    // report blocks (so the regular reports' loss intervals stay whole),
    // SDES CNAME and the messages, to the RTCP port of `destination` (given
    // by its RTP address). kErrorFeedbackTooSoon when feedback of a kind the
    // compound carries went to that address less than minimumSpacingSeconds
    // ago: each kind keeps its own spacing, so that frequent NACKs cannot
    // hold back a picture loss indication, nor the other way round. Returns
    // the length sent or an error.
    int SendFeedback(const RTPIPv4Address& destination, const RTCPFeedbackRequest* messages, size_t count,
                     double minimumSpacingSeconds);

    // Every datagram either socket sends passes `route` first (see
    // RTPSendRoute); set before Create. Not owned.
    void SetSendRoute(RTPSendRoute* route);
    // Datagrams that come another way than the sockets (see
    // RTPDatagramSource), polled with them; set before Create. Not owned.
    void SetDatagramSource(RTPDatagramSource* source);
    // Every RTP packet and RTCP compound the session builds passes
    // `transform` once before it is sent (see RTPSendTransform); what
    // OnPacketSent sees is the transformed packet. Set before Create. Not owned.
    void SetSendTransform(RTPSendTransform* transform);

    int SetDefaultPayloadType(uint8_t payloadType);
    int SetDefaultMark(bool marker);
    int SetDefaultTimestampIncrement(uint32_t increment);
    int IncrementTimestamp(uint32_t increment);
    int IncrementTimestampDefault();
    int SetMaximumPacketSize(size_t bytes);

    // Without the poll thread: receive what is waiting, process it, send
    // RTCP when due and check time-outs (kErrorPollThreadRunning with it).
    int Poll();
    int WaitForIncomingData(double seconds, bool* dataAvailable = nullptr);
    int AbortWait();

    // The data-access lock (recursive): hold it for everything below.
    int BeginDataAccess();
    int EndDataAccess();
    bool GotoFirstSource();
    bool GotoNextSource();
    bool GotoFirstSourceWithData();
    bool GotoNextSourceWithData();
    RTPSourceData* GetCurrentSourceInfo();
    RTPSourceData* GetSourceInfo(uint32_t ssrc);
    // The next waiting packet of the current source, oldest first; null when none.
    RTPPacket* GetNextPacket();
    // Forgets the sources whose RTP came from `address` (see
    // RTPSources::ForgetSourcesFrom); any thread, takes the data-access lock.
    void ForgetSourcesFrom(const RTPIPv4Address& address);
    // Gives a packet from GetNextPacket back to the pool; any thread, no lock needed.
    void DeletePacket(RTPPacket* packet);

    // Packets ever created by the pool and how many of them are handed out:
    // the pool grows only while more packets are in use than ever before.
    size_t GetPacketPoolSize() const;
    size_t GetPacketsInUse() const;
    // Clock time at which the next RTCP compound is due (0 when not created).
    double GetNextRTCPTime();
    // The session's clock (0 when not created).
    double GetClockTime() const;

protected:
    // Callbacks, empty by default. All but the last two run on the thread
    // that polls, with the data-access lock held: they must not wait for
    // another thread that takes it.
    // The packet stays the session's: read it, do not keep or delete it.
    virtual void OnRTPPacket(RTPPacket* packet, double receiveTime, const RTPIPv4Address* sender);
    virtual void OnRTCPCompoundPacket(RTCPCompoundPacket* packet, double receiveTime, const RTPIPv4Address* sender);
    // source: the table entry whose SSRC arrived from another address, or null
    // when the SSRC is our own (the session then takes a new one).
    virtual void OnSSRCCollision(RTPSourceData* source, const RTPIPv4Address* sender, bool isRTP);
    virtual void OnCNAMECollision(RTPSourceData* source, const RTPIPv4Address* sender, const uint8_t* cname,
                                  size_t cnameLength);
    virtual void OnNewSource(RTPSourceData* source);
    virtual void OnRemoveSource(RTPSourceData* source);
    virtual void OnTimeout(RTPSourceData* source);
    virtual void OnBYETimeout(RTPSourceData* source);
    virtual void OnAPPPacket(RTCPAPPPacket* packet, double receiveTime, const RTPIPv4Address* sender);
    virtual void OnUnknownPacketType(RTCPPacket* packet, double receiveTime, const RTPIPv4Address* sender);
    virtual void OnUnknownPacketFormat(RTCPPacket* packet, double receiveTime, const RTPIPv4Address* sender);
    // A generic NACK (lost: the sequence numbers it marks) or a picture loss
    // indication (no numbers) from senderSSRC about mediaSSRC. Other feedback
    // formats go to OnUnknownPacketType, malformed ones to OnUnknownPacketFormat.
    virtual void OnFeedback(RTCPFeedbackKind kind, uint32_t senderSSRC, uint32_t mediaSSRC, const uint16_t* lost,
                            size_t lostCount, double receiveTime, const RTPIPv4Address* sender);
    // Poll thread, data-access lock held: a receiver estimate (REMB) of the
    // rate the sender's streams `ssrcs` may take on its path.
    virtual void OnReceiverEstimate(uint32_t senderSSRC, uint64_t bitsPerSecond, const std::vector<uint32_t>& ssrcs,
                                    double receiveTime, const RTPIPv4Address* sender);
    virtual void OnNoteTimeout(RTPSourceData* source);
    virtual void OnBYEPacket(RTPSourceData* source);
    virtual void OnSendRTCPCompoundPacket(RTCPCompoundPacket* packet);
    // On the sending thread, after SendPacket or BuildPacket (destination
    // null: the list) or SendPacketTo sent `packet` (whole, as on the wire) at clock time
    // sendTime, with the send lock held: it must not call the session's send
    // or timestamp operations.
    virtual void OnPacketSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                              const RTPIPv4Address* destination);
    // The receive filter: every datagram of either socket, before anything
    // reads it. Returning false drops it; the packet may be changed in place.
    virtual bool OnRawPacket(RTPRawPacket* packet);
    virtual void OnPollThreadError(int error);
    // After every round of the poll thread, without the data-access lock.
    virtual void OnPollThreadStep();
    // The poll thread's next wait, `seconds` at most: a derived session with
    // timers of its own shortens it.
    virtual double PollWaitSeconds(double seconds);
    // Once the poll thread has stopped, while the sockets are still open,
    // with the data-access lock held: the last datagrams may go out.
    virtual void OnClosing();

    // See RTPUDPv4Transmitter::SendPieces: for the send route and the poll thread.
    bool SendPieces(bool rtpChannel, const RTPIPv4Address& destination,
                    std::span<const std::span<const uint8_t>> pieces);

private:
    friend class RTPSources;  // calls the source callbacks above

    void PollThreadMain();
    int PollOnce();
    void ProcessDatagram(RTPRawPacket* raw);
    void ProcessRTP(RTPRawPacket* raw);
    void ProcessRTCP(RTPRawPacket* raw);
    void ProcessSDES(const RTCPPacket& packet, const RTPIPv4Address& sender, double now);
    void ProcessBYE(const RTCPPacket& packet, const RTPIPv4Address& sender, double now);
    void ProcessReport(const RTCPPacket& packet, const RTPIPv4Address& sender, double now);
    void ProcessFeedback(const RTCPPacket& packet, const RTPIPv4Address& sender, double now);
    // Own-SSRC handling of RFC 3550 8.2; returns false when the datagram is dropped.
    bool CheckOwnSSRC(uint32_t ssrc, const RTPIPv4Address& sender, bool isRTP, double now);
    RTCPMembership CurrentMembership();
    void SendRTCPIfDue(double now);
    // A report compound from `ssrc`, with a BYE when bye is set. Returns its
    // length or an error.
    int SendRTCPCompound(double now, uint32_t ssrc, bool bye, const uint8_t* reason, size_t reasonLength);
    // Feedback spacing per address and kind; guarded by dataMutex_.
    double LastFeedbackTime(const RTPIPv4Address& destination, RTCPFeedbackKind kind) const;
    void NoteFeedbackSent(const RTPIPv4Address& destination, RTCPFeedbackKind kind, double now);
    void CheckTimeouts(double now);
    void MembersLeft(double now, int count);
    void StopPollThread();
    void CloseAll();
    // The packet as it goes on the wire: itself without a transform, else
    // transformed in `scratch`; empty when the transform refused it.
    std::span<const uint8_t> Outgoing(bool rtp, const uint8_t* packet, size_t length, std::vector<uint8_t>& scratch);
    size_t TransmitterPacketSize(size_t packetSize) const;

    std::atomic<bool> created_{false};
    std::atomic<bool> stopRequested_{false};
    RTPSessionParams params_;
    RTPClock* clock_ = nullptr;
    RTPRandom* random_ = nullptr;
    std::string cname_;

    std::unique_ptr<RTPUDPv4Transmitter> transmitter_;
    RTPSendTransform* transform_ = nullptr;
    // Builder lock held: the next packet as the wire carries it (empty, with
    // *status negative, when refused), then its bookkeeping once sent.
    std::span<const uint8_t> BuildLocked(const void* data, size_t length, uint8_t payloadType, bool marker,
                                         int* status);
    void SentLocked(std::span<const uint8_t> wire, uint32_t timestampIncrement);
    std::vector<uint8_t> rtpScratch_;            // guarded by builderMutex_
    std::vector<uint8_t> rtcpScratch_;           // guarded by dataMutex_
    std::unique_ptr<RTPPacketBuilder> builder_;  // guarded by builderMutex_
    // Declared before the table, so the table gives its packets back first.
    std::unique_ptr<RTPPacketPool> pool_;               // own lock
    std::unique_ptr<RTPSources> sources_;               // guarded by dataMutex_
    std::unique_ptr<RTCPScheduler> scheduler_;          // guarded by dataMutex_
    std::unique_ptr<RTCPCompoundBuilder> rtcpBuilder_;  // guarded by dataMutex_
    std::vector<RTCPReportBlock> reportBlocks_;         // guarded by dataMutex_
    // When feedback of each kind last went to each address (a few at most).
    struct FeedbackSent {
        RTPIPv4Address destination;
        RTCPFeedbackKind kind;
        double time;
    };
    std::vector<FeedbackSent> feedbackSent_;  // guarded by dataMutex_
    std::mutex builderMutex_;
    std::recursive_mutex dataMutex_;
    RTPRawPacket rawPacket_;  // the polling thread's receive buffer
    std::thread pollThread_;
};

}  // namespace rtp
