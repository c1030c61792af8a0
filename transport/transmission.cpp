#include "transport/transmission.h"

#include "platform/log.h"
#include "transport/log_texts.h"
#include "transport/rtp/rtp_defaults.h"
#include "trace/hop_trace.h"
#include "transport/rtp/rtp_clock.h"
#include "transport/rtp/rtp_errors.h"
#include "transport/source_figures.h"
#include "transport/tavolin_rtp_session.h"
#include "transport/video_retransmission_switch.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

using namespace transmission;

namespace {

// Draws per session before Create gives up: ten times the number of port
// bases, so a free port is all but certain to be found when one exists, and a
// machine with every port taken cannot hang the engine thread.
constexpr int kMaxPortDraws = 10 * kPortBaseChoices;

bool IsAddress(uint32_t address) { return address != kNoAddress && address != kBroadcastAddress; }

// The pair of one medium that is in force for the peer.
rtp::RTPIPv4Address CurrentPair(const PeerEntry& peer, bool video) {
    if (peer.usePublic == 1) return {peer.publicAddress, video ? peer.publicVideoPort : peer.publicAudioPort};
    return {peer.localAddress, video ? peer.localVideoPort : peer.localAudioPort};
}

// Only pairs that name a host and a port become destinations: media sent to
// "no address" would go to this host (0) or to broadcast (0xFFFFFFFF).
bool IsReachable(const rtp::RTPIPv4Address& pair) { return IsAddress(pair.GetIP()) && pair.GetPort() != 0; }

void AddDestinationIfReachable(CTavolinRTPSession* session, const rtp::RTPIPv4Address& pair) {
    if (session && IsReachable(pair)) session->AddDestination(pair);
}

void DeleteDestinationIfPresent(CTavolinRTPSession* session, const rtp::RTPIPv4Address& pair) {
    if (session) session->DeleteDestination(pair);
}

bool BeginsWith(const rtp::RTPPacket* packet, const char* prefix) {
    return packet->GetPayloadLength() >= kControlPrefixBytes &&
           std::memcmp(packet->GetPayloadData(), prefix, kControlPrefixBytes) == 0;
}

}  // namespace

CTavolinTransmission::CTavolinTransmission() {
    for (PeerEntry& peer : peers) peer = PeerEntry{};
    InitializeCriticalSection(&audioQueue.lock);
    InitializeCriticalSection(&videoQueue.lock);
}

// The sinks may be gone by now: an owner that wants its packets back calls
// Destroy first, as the engine does.
CTavolinTransmission::~CTavolinTransmission() {
    CloseSession(audioSession, audioQueue, false);
    CloseSession(videoSession, videoQueue, false);
    DeleteCriticalSection(&audioQueue.lock);
    DeleteCriticalSection(&videoQueue.lock);
}

void CTavolinTransmission::SetLogSink(ITavolinLogSink* sink) { logSink = sink; }

uint16_t CTavolinTransmission::GetLocalAudioPort() const { return audioPort; }

uint16_t CTavolinTransmission::GetLocalVideoPort() const { return videoPort; }

uint32_t CTavolinTransmission::GetLocalSsrc(bool video) const {
    CTavolinRTPSession* session = (video ? videoSession : audioSession).get();
    return session && session->IsActive() ? session->GetLocalSSRC() : 0;
}

size_t CTavolinTransmission::QueuedPacketsForTesting(bool video) {
    ReceiveQueue& queue = video ? videoQueue : audioQueue;
    EnterCriticalSection(&queue.lock);
    const size_t count = queue.packets.size();
    LeaveCriticalSection(&queue.lock);
    return count;
}

const PeerEntry* CTavolinTransmission::PeerAtForTesting(int index) const {
    return index >= 0 && index < peerCount ? &peers[index] : nullptr;
}

// ---- Sessions -------------------------------------------------------------

int CTavolinTransmission::Create(HWND messageWindow, const TransmissionMessages& windowMessages) {
    if (audioSession && audioSession->IsActive()) return 1;
    if (!audioSession) audioSession = std::make_unique<CTavolinRTPSession>();
    if (videoSession && videoSession->IsActive()) return 1;
    if (!videoSession) videoSession = std::make_unique<CTavolinRTPSession>();
    audioSession->owner = this;
    audioSession->kind = CTavolinRTPSession::kVoice;
    videoSession->owner = this;
    videoSession->kind = CTavolinRTPSession::kVideo;
    videoSession->retransmission = VideoRetransmissionEnabled();
    // Known before the poll threads start, which post to it.
    window = messageWindow;
    messages = windowMessages;

    if (OpenSession(*audioSession, kVoiceTimestampUnitSeconds, kVoiceLargestRtpBytes, 0, &audioPort) != 0) return 0;
    if (OpenSession(*videoSession, kVideoTimestampUnitSeconds, kVideoLargestRtpBytes, audioPort, &videoPort) != 0)
        return 0;

    audioSession->SetDefaultMark(false);
    audioSession->SetDefaultPayloadType(kVoicePayloadType);
    audioSession->SetDefaultTimestampIncrement(kVoiceTimestampIncrement);
    videoSession->SetDefaultMark(false);
    videoSession->SetDefaultPayloadType(kVideoPayloadType);
    videoSession->SetDefaultTimestampIncrement(kVideoTimestampIncrement);
    videoSession->SetMaximumPacketSize(kVideoMaximumPacketBytes);
    UpdateSenderFilters();  // players added before the sessions existed
    return 1;
}

// Draws port bases until one binds; only a busy port leads to another draw.
int CTavolinTransmission::OpenSession(CTavolinRTPSession& session, double timestampUnit, size_t largestRtpBytes,
                                      uint16_t avoidPort, uint16_t* port) {
    rtp::RTPSessionParams params;
    params.SetOwnTimestampUnit(timestampUnit);
    params.SetAcceptOwnPackets(false);
    params.SetMaximumReceivedRTPBytes(largestRtpBytes);
    params.SetMaximumReceivedRTCPBytes(kLargestRtcpBytes);
    rtp::RTPUDPv4TransmissionParams transmissionParams;
    int status = rtp::kErrorCannotBindRTPSocket;
    for (int draw = 0; draw < kMaxPortDraws; ++draw) {
        const auto base = static_cast<uint16_t>(kFirstPortBase + 2 * (std::rand() % kPortBaseChoices));
        if (base == avoidPort) continue;
        *port = base;
        transmissionParams.SetPortbase(base);
        status = session.Create(params, &transmissionParams);
        if (status != rtp::kErrorCannotBindRTPSocket && status != rtp::kErrorCannotBindRTCPSocket) return status;
    }
    return status;
}

int CTavolinTransmission::Destroy() {
    // Without sessions no packet is out.
    if (audioSession || videoSession) {
        for (int i = 0; i < peerCount; ++i)
            if (peers[i].sink) peers[i].sink->ReleaseHeldPackets();
    }
    CloseSession(audioSession, audioQueue, true);
    CloseSession(videoSession, videoQueue, true);
    return 1;
}

// The poll thread is stopped first, so that no packet can be queued after the
// queue has been emptied.
void CTavolinTransmission::CloseSession(std::unique_ptr<CTavolinRTPSession>& session, ReceiveQueue& queue,
                                        [[maybe_unused]] bool sinksGaveBack) {
    if (!session) return;
    session->BYEDestroy(0, kByeReason, std::strlen(kByeReason));
    EnterCriticalSection(&queue.lock);
    std::deque<QueuedPacket> waiting;
    waiting.swap(queue.packets);
    queue.announced = false;
    LeaveCriticalSection(&queue.lock);
    for (const QueuedPacket& item : waiting) session->DeletePacket(item.packet);
    // Queued packets and those the sinks held are back; the session frees
    // its pool with it.
    assert(!sinksGaveBack || session->GetPacketsInUse() == 0);
    session.reset();
}

void CTavolinTransmission::DeleteVideoPacket(rtp::RTPPacket* packet) {
    if (videoSession) videoSession->DeletePacket(packet);
}

void CTavolinTransmission::DeleteAudioPacket(rtp::RTPPacket* packet) {
    if (audioSession) audioSession->DeletePacket(packet);
}

// ---- Peers ----------------------------------------------------------------

PeerEntry* CTavolinTransmission::FindPeer(int userId) {
    for (int i = 0; i < peerCount; ++i) {
        if (peers[i].userId == userId) return &peers[i];
    }
    return nullptr;
}

PeerEntry* CTavolinTransmission::FindPeerBySender(uint32_t address, uint16_t port, bool video) {
    for (int i = 0; i < peerCount; ++i) {
        PeerEntry& peer = peers[i];
        const uint16_t publicPort = video ? peer.publicVideoPort : peer.publicAudioPort;
        const uint16_t localPort = video ? peer.localVideoPort : peer.localAudioPort;
        if ((peer.publicAddress == address && publicPort == port) || (peer.localAddress == address && localPort == port))
            return &peer;
    }
    return nullptr;
}

int CTavolinTransmission::AddUser(int userId, uint32_t publicAddress, uint32_t localAddress,
                                  ITavolinPacketSink* sink) {
    if (PeerEntry* known = FindPeer(userId)) {
        // Media follows the peer to its new address, and only there.
        DeleteDestinations(*known);
        if (IsAddress(publicAddress)) known->publicAddress = publicAddress;
        if (IsAddress(localAddress)) known->localAddress = localAddress;
        AddDestinations(*known);
        UpdateSenderFilters();
        return 1;
    }
    if (peerCount >= kMaxPeers) {
        LogTo(logSink, transport_log::kPeerTableFull);
        return 0;
    }
    PeerEntry& peer = peers[peerCount];
    peer = PeerEntry{};
    peer.userId = userId;
    peer.publicAddress = publicAddress;
    peer.publicVideoPort = peer.publicAudioPort = kUnknownPort;
    peer.localAddress = localAddress;
    peer.localVideoPort = peer.localAudioPort = kUnknownPort;
    peer.usePublic = 1;
    peer.sink = sink;
    ++peerCount;
    if (sink) sink->SetTransmission(this);
    UpdateSenderFilters();
    return 1;
}

int CTavolinTransmission::SetUserAudioPort(int userId, uint16_t publicPort, uint16_t localPort) {
    return SetUserPort(userId, publicPort, localPort, false);
}

int CTavolinTransmission::SetUserVideoPort(int userId, uint16_t publicPort, uint16_t localPort) {
    return SetUserPort(userId, publicPort, localPort, true);
}

int CTavolinTransmission::SetUserPort(int userId, uint16_t publicPort, uint16_t localPort, bool video) {
    PeerEntry* peer = FindPeer(userId);
    if (!peer) return 0;
    (video ? peer->publicVideoPort : peer->publicAudioPort) = publicPort;
    (video ? peer->localVideoPort : peer->localAudioPort) = localPort;
    CTavolinRTPSession* session = video ? videoSession.get() : audioSession.get();
    AddDestinationIfReachable(session, CurrentPair(*peer, video));
    UpdateSenderFilters();
    SendHello(*peer, true, video);
    return 1;
}

int CTavolinTransmission::RemoveUser(int userId) {
    PeerEntry* peer = FindPeer(userId);
    if (!peer) {
        LogTo(logSink, transport_log::kRemoveUnknownUser);
        return 0;
    }
    DeleteDestinations(*peer);
    const int index = static_cast<int>(peer - peers);
    for (int i = index; i + 1 < peerCount; ++i) peers[i] = peers[i + 1];
    --peerCount;
    peers[peerCount] = PeerEntry{};
    UpdateSenderFilters();
    return 1;
}

// ---- Sending ----------------------------------------------------------------

void CTavolinTransmission::RequestKeyFrame(int userId, uint32_t mediaSSRC) {
    PeerEntry* peer = FindPeer(userId);
    if (!peer || !videoSession) return;
    const rtp::RTPIPv4Address pair = CurrentPair(*peer, true);
    if (!IsReachable(pair)) return;
    rtp::RTCPFeedbackRequest pictureLoss;
    pictureLoss.kind = rtp::RTCPFeedbackKind::kPictureLoss;
    pictureLoss.mediaSSRC = mediaSSRC;
    if (videoSession->SendFeedback(pair, &pictureLoss, 1, kPictureLossSpacingSeconds) > 0)
        links_.Count(peer->userId, &PeerLinkCounts::pictureLossSent);
}

int CTavolinTransmission::NextVideoFrame() {
    return videoSession ? videoSession->IncrementTimestampDefault() : rtp::kErrorNotCreated;
}

bool CTavolinTransmission::SendVideo(const void* data, size_t length, uint32_t timestampIncrement) {
    if (!videoSession || videoSession->SendPacket(data, length, kVideoPayloadType, false, timestampIncrement) < 0)
        return false;
    ++videoPacketsSent_;
    videoBytesSent_ += rtp::kRTPFixedHeaderBytes + length;
    return true;
}

bool CTavolinTransmission::SendAudio(const void* data, size_t length) {
    if (!audioSession || audioSession->SendPacket(data, length) < 0) return false;
    ++audioPacketsSent_;
    audioBytesSent_ += rtp::kRTPFixedHeaderBytes + length;
    return true;
}

// ---- Receiving ----------------------------------------------------------------

void CTavolinTransmission::QueueAudioPacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet) {
    QueuePacket(source, packet, false);
}

void CTavolinTransmission::QueueVideoPacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet) {
    QueuePacket(source, packet, true);
}

// Poll thread, with the session's data-access lock held.
void CTavolinTransmission::QueuePacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet, bool video) {
    CTavolinRTPSession* session = video ? videoSession.get() : audioSession.get();
    // The session's poll thread calls this, and Destroy stops it first.
    assert(session);
    const rtp::RTPIPv4Address* sender = source ? source->GetRTPDataAddress() : nullptr;
    if (!sender) {
        session->DeletePacket(packet);
        return;
    }
    if (video) TAVOLIN_HOP_TRACE(PacketQueued(videoPort, packet->GetSSRC(), packet->GetTimestamp(),
                                              rtp::RTPSystemClock::Instance().Now() - packet->GetReceiveTime()));
    ReceiveQueue& queue = video ? videoQueue : audioQueue;
    EnterCriticalSection(&queue.lock);
    const bool full = queue.packets.size() >= kReceiveQueueLimit;
    if (!full) queue.packets.push_back({sender->GetIP(), sender->GetPort(), packet});
    LeaveCriticalSection(&queue.lock);
    if (full) {
        session->DeletePacket(packet);
        ++(video ? droppedVideoPackets : droppedAudioPackets);
        return;
    }
    AnnounceWaitingPackets(video);
}

// Poll threads. Marked before posting, so that the window thread, which
// clears the mark as it takes the queue, never misses a packet.
void CTavolinTransmission::AnnounceWaitingPackets(bool video) {
    ReceiveQueue& queue = video ? videoQueue : audioQueue;
    EnterCriticalSection(&queue.lock);
    const bool post = !queue.announced && !queue.packets.empty();
    if (post) queue.announced = true;
    LeaveCriticalSection(&queue.lock);
    if (!post) return;
    if (PostMessageA(window, video ? messages.videoReceived : messages.audioReceived, 0,
                     reinterpret_cast<LPARAM>(this)))
        return;
    EnterCriticalSection(&queue.lock);
    queue.announced = false;
    LeaveCriticalSection(&queue.lock);
}

void CTavolinTransmission::OnAudioReceived() { OnPacketReceived(false); }

void CTavolinTransmission::OnVideoReceived() { OnPacketReceived(true); }

// Takes what was queued when the message came, one packet at a time, so that
// a host that removes users or destroys the engine from a callback finds
// every other packet still in the queue. Later packets come with a message of
// their own. Voice that came meanwhile goes before each video packet: a long
// drain of video (a busy engine thread's backlog, decoding as it goes) would
// otherwise hold it past its playout time.
void CTavolinTransmission::OnPacketReceived(bool video) {
    ReceiveQueue& queue = video ? videoQueue : audioQueue;
    EnterCriticalSection(&queue.lock);
    queue.announced = false;
    size_t waiting = queue.packets.size();
    LeaveCriticalSection(&queue.lock);
    for (; waiting > 0; --waiting) {
        if (video && HasQueuedVoice()) OnPacketReceived(false);
        EnterCriticalSection(&queue.lock);
        if (queue.packets.empty()) {
            LeaveCriticalSection(&queue.lock);
            return;
        }
        const QueuedPacket item = queue.packets.front();
        queue.packets.pop_front();
        LeaveCriticalSection(&queue.lock);
        DeliverPacket(item, video);
    }
}

bool CTavolinTransmission::HasQueuedVoice() {
    EnterCriticalSection(&audioQueue.lock);
    const bool waiting = !audioQueue.packets.empty();
    LeaveCriticalSection(&audioQueue.lock);
    return waiting;
}

void CTavolinTransmission::DeliverPacket(const QueuedPacket& item, bool video) {
    rtp::RTPPacket* packet = item.packet;
    auto giveBack = [&] { video ? DeleteVideoPacket(packet) : DeleteAudioPacket(packet); };
    PeerEntry* peer = FindPeerBySender(item.address, item.port, video);
    if (!peer || !peer->sink) {
        giveBack();
        return;
    }
    links_.CountReceived(peer->userId, video, packet->GetPacketLength());
    if (packet->GetPayloadType() == kHelloPayloadType) {
        const bool hello = BeginsWith(packet, kHelloText);
        const bool answer = BeginsWith(packet, kHelloAnswerText);
        // Given back before the host hears of it: the host may act on the
        // engine from its log sink or the event, removing this peer too.
        giveBack();
        if (hello) {
            SendHello(*peer, false, video);
        } else if (answer) {
            const int32_t userId = peer->userId;
            int32_t& settled = video ? peer->videoSettled : peer->audioSettled;
            const bool first = settled == 0;
            settled = 1;
            if (!video) LogTo(logSink, transport_log::kVoiceHelloAnswered);
            if (first && observer_) observer_->OnPeerGreeted(userId, video);
        }
        return;
    }
    if (video) {
        TAVOLIN_HOP_TRACE(PacketDrained(videoPort, packet->GetSSRC(), packet->GetTimestamp()));
        peer->sink->OnVideoPacket(peer->userId, packet);  // the sink owns it now
    } else {
        peer->sink->OnAudioPacket(peer->userId, packet->GetPayloadData(), packet->GetPayloadLength());
        giveBack();
    }
}

// ---- Public address and greeting -----------------------------------------------

int CTavolinTransmission::RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data,
                                               size_t length) {
    for (CTavolinRTPSession* session : {audioSession.get(), videoSession.get()}) {
        if (session) session->RequestPublicAddress(serverAddress, serverPort, data, length);
    }
    return 1;
}

void CTavolinTransmission::RetryPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data,
                                              size_t length) {
    for (CTavolinRTPSession* session : {audioSession.get(), videoSession.get()}) {
        if (session && !session->hasPublicAddress.load())
            session->RequestPublicAddress(serverAddress, serverPort, data, length);
    }
}

bool CTavolinTransmission::HasPublicAddresses() const {
    for (const CTavolinRTPSession* session : {audioSession.get(), videoSession.get()}) {
        if (session && !session->hasPublicAddress.load()) return false;
    }
    return true;
}

// Poll thread. The record belongs to the window procedure once posted.
bool CTavolinTransmission::OnPublicAddress(uint32_t address, uint16_t port, int kind) {
    auto record = std::make_unique<PublicAddressRecord>(PublicAddressRecord{address, port});
    const UINT message = kind == CTavolinRTPSession::kVoice ? messages.audioPublicAddress : messages.videoPublicAddress;
    if (!PostMessageA(window, message, reinterpret_cast<WPARAM>(record.get()),
                      reinterpret_cast<LPARAM>(messages.context)))
        return false;
    record.release();
    ownPublicAddress = address;
    return true;
}

void CTavolinTransmission::SendHello(PeerEntry& peer, bool hello, bool video) {
    CTavolinRTPSession* session = video ? videoSession.get() : audioSession.get();
    if (!session) return;
    const rtp::RTPIPv4Address pair = CurrentPair(peer, video);
    if (!IsReachable(pair)) return;
    const char* text = hello ? kHelloText : kHelloAnswerText;
    session->SendPacketTo(text, std::strlen(text), kHelloPayloadType, false, pair);
    uint32_t& helloTime = video ? peer.videoHelloTime : peer.audioHelloTime;
    if (hello && helloTime == 0) helloTime = GetTickCount();
}

void CTavolinTransmission::GreetPeers() {
    const uint32_t now = GetTickCount();
    // By id: the host may remove peers from its log sink or an event while
    // they are greeted, which moves the others in the table.
    int32_t ids[kMaxPeers];
    const int count = peerCount;
    for (int i = 0; i < count; ++i) ids[i] = peers[i].userId;
    for (int i = 0; i < count; ++i) {
        PeerEntry* const entry = FindPeer(ids[i]);
        if (!entry) continue;
        PeerEntry& peer = *entry;
        bool gaveUp = false;
        for (const bool video : {false, true}) {
            int32_t& settled = video ? peer.videoSettled : peer.audioSettled;
            if (gaveUp || settled) continue;
            const uint32_t helloTime = video ? peer.videoHelloTime : peer.audioHelloTime;
            if (helloTime != 0) {
                const uint32_t elapsed = now - helloTime;
                if (elapsed > kHelloGiveUpAfterMs) {
                    settled = 1;
                    gaveUp = true;  // this peer's other medium waits for the next tick
                    continue;
                }
                if (elapsed >= kLocalFallbackAfterMs && peer.usePublic == 1) {
                    SwitchToLocalAddress(peer);
                    if (FindPeer(ids[i]) != &peer) break;
                }
            }
            SendHello(peer, true, video);
        }
    }
}

void CTavolinTransmission::SwitchToLocalAddress(PeerEntry& peer) {
    if (peer.usePublic != 1 || ownPublicAddress.load() != peer.publicAddress) return;
    const int32_t userId = peer.userId;
    peer.audioHelloTime = 0;
    peer.videoHelloTime = 0;
    DeleteDestinations(peer);
    peer.usePublic = 0;
    AddDestinations(peer);
    PublishPeerPairs();
    // Told once the switch is whole: the host may remove the peer from its log sink.
    LogTo(logSink, transport_log::kSwitchToLocalAddress);
    if (observer_ && FindPeer(userId)) observer_->OnPeerSwitchedToLocal(userId);
}

// A peer's destinations are exactly the pairs in force, one per medium, and
// only those whose ports are known.
void CTavolinTransmission::AddDestinations(const PeerEntry& peer) {
    AddDestinationIfReachable(videoSession.get(), CurrentPair(peer, true));
    AddDestinationIfReachable(audioSession.get(), CurrentPair(peer, false));
}

void CTavolinTransmission::UpdateSenderFilters() {
    for (const bool video : {false, true}) {
        CTavolinRTPSession* session = video ? videoSession.get() : audioSession.get();
        if (!session) continue;
        std::vector<SenderPair> pairs;
        std::vector<uint32_t> addresses;
        for (int i = 0; i < peerCount; ++i) {
            const PeerEntry& peer = peers[i];
            pairs.push_back({peer.publicAddress, video ? peer.publicVideoPort : peer.publicAudioPort});
            pairs.push_back({peer.localAddress, video ? peer.localVideoPort : peer.localAudioPort});
            addresses.push_back(peer.publicAddress);
            addresses.push_back(peer.localAddress);
        }
        session->senders.Replace(std::move(pairs), std::move(addresses));
    }
    PublishPeerPairs();
}

void CTavolinTransmission::PublishPeerPairs() {
    std::vector<PeerPairs> published;
    for (int i = 0; i < peerCount; ++i) {
        const PeerEntry& peer = peers[i];
        published.push_back({peer.userId,
                             peer.publicAddress,
                             peer.localAddress,
                             {peer.publicAudioPort, peer.publicVideoPort},
                             {peer.localAudioPort, peer.localVideoPort},
                             peer.usePublic == 1});
    }
    links_.Update(published);
}

void CTavolinTransmission::DeleteDestinations(const PeerEntry& peer) {
    DeleteDestinationIfPresent(videoSession.get(), CurrentPair(peer, true));
    DeleteDestinationIfPresent(audioSession.get(), CurrentPair(peer, false));
}

// Keeps the translator's mapping of each session's RTP port alive by sending
// to the address server the session asked, never to anyone else.
void CTavolinTransmission::SendTrans() {
    for (CTavolinRTPSession* session : {audioSession.get(), videoSession.get()}) {
        if (!session) continue;
        const rtp::RTPIPv4Address server(session->serverAddress.load(), session->serverPort.load());
        if (!IsReachable(server)) continue;
        session->SendPacketTo(kTransText, std::strlen(kTransText), kTransPayloadType, false, server);
    }
}
