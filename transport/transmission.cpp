#include "transport/transmission.h"

#include "platform/log.h"
#include "trace/hop_trace.h"
#include "transport/log_texts.h"
#include "transport/rtp/rtp_clock.h"
#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_errors.h"
#include "transport/rtp/rtp_random.h"
#include "transport/source_figures.h"
#include "transport/tavolin_rtp_session.h"
#include "transport/video_retransmission_switch.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstring>
#include <thread>

using namespace transmission;

namespace {

// Draws per session before Create gives up: ten times the number of port
// bases, so a free port is all but certain to be found when one exists, and a
// machine with every port taken cannot hang the engine thread.
constexpr int kMaxPortDraws = 10 * kPortBaseChoices;

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

CTavolinTransmission::CTavolinTransmission() : portRandom_(&rtp::RTPSystemRandom::Instance()) {
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

uint32_t CTavolinTransmission::GetLocalSsrc(Medium medium) const {
    CTavolinRTPSession* session = Session(medium);
    return session && session->IsActive() ? session->GetLocalSSRC() : 0;
}

size_t CTavolinTransmission::QueuedPacketsForTesting(bool video) {
    ReceiveQueue& queue = Queue(MediumOf(video));
    EnterCriticalSection(&queue.lock);
    const size_t count = queue.packets.size();
    LeaveCriticalSection(&queue.lock);
    return count;
}

const PeerEntry* CTavolinTransmission::PeerAtForTesting(int index) const {
    return index >= 0 && index < peers.Count() ? &peers.At(index) : nullptr;
}

// ---- Sessions -------------------------------------------------------------

int CTavolinTransmission::Create(HWND messageWindow, const TransmissionMessages& windowMessages) {
    if (audioSession && audioSession->IsActive()) return 1;
    if (!audioSession) audioSession = std::make_unique<CTavolinRTPSession>();
    if (videoSession && videoSession->IsActive()) return 1;
    if (!videoSession) videoSession = std::make_unique<CTavolinRTPSession>();
    for (const Medium medium : kBothMedia) {
        CTavolinRTPSession& session = *Session(medium);
        session.owner = this;
        session.kind = medium == Medium::kVideo ? CTavolinRTPSession::kVideo : CTavolinRTPSession::kVoice;
        session.peers = &peers;
        session.pathQueues = &pathQueues_;
        if (relay_.policy != RelayPolicy::kNever && !relay_.servers.empty())
            session.UseRelay(relay_.servers, rtp::RTPSystemRandom::Instance(),
                             relay_.policy == RelayPolicy::kWhenNeeded);
    }
    videoSession->SetRepair(VideoRetransmissionEnabled());
    if (encrypted_) {
        for (const Medium medium : kBothMedia) Session(medium)->UseProtection();
        if (!roomKeys_ || !InstallOwnKeys(*roomKeys_)) return 0;
        for (int i = 0; i < peers.Count(); ++i) InstallPeerKeys(*roomKeys_, peers.At(i).userId);
    }
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
    // Routers that honour the marks put voice ahead of video.
    audioSession->SetTypeOfService(kVoiceTypeOfService);
    videoSession->SetTypeOfService(kVideoTypeOfService);
    for (const Medium medium : kBothMedia) Session(medium)->StartRelay();
    videoPacer_.Start([this](bool firstOfFrame, const uint8_t* data, size_t length, double slotSeconds) {
        SendPacedVideo(firstOfFrame, data, length, slotSeconds);
    });
    return 1;
}

bool CTavolinTransmission::SetRoomKeys(RoomKeys keys) {
    if (roomKeys_ && keys.epoch <= roomKeys_->epoch) return false;
    if (!keys.SenderKeyOf(localUserId_, Medium::kVoice)) return false;
    if (Protecting() && !InstallOwnKeys(keys)) return false;
    roomKeys_ = std::move(keys);
    if (Protecting())
        for (int i = 0; i < peers.Count(); ++i) InstallPeerKeys(*roomKeys_, peers.At(i).userId);
    return true;
}

// Until the sessions open, Create installs the keys: a key a protector took
// is spent, even if its session never opened.
bool CTavolinTransmission::Protecting() const {
    return audioSession && audioSession->IsActive() && audioSession->Protection();
}

bool CTavolinTransmission::InstallOwnKeys(const RoomKeys& keys) {
    for (const Medium medium : kBothMedia) {
        const std::optional<srtp::SenderKey> key = keys.SenderKeyOf(localUserId_, medium);
        if (!key || !Session(medium)->Protection()->SetOwnKey(*key, SessionRelay::NowMs())) return false;
    }
    return true;
}

void CTavolinTransmission::InstallPeerKeys(const RoomKeys& keys, int32_t userId) {
    for (const Medium medium : kBothMedia) {
        if (const std::optional<srtp::SenderKey> key = keys.SenderKeyOf(userId, medium))
            Session(medium)->Protection()->InstallPeerKey(userId, *key, SessionRelay::NowMs());
    }
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
        const auto base = static_cast<uint16_t>(kFirstPortBase + 2 * (portRandom_->GetRandom32() % kPortBaseChoices));
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
        for (int i = 0; i < peers.Count(); ++i)
            if (ITavolinPacketSink* sink = peers.At(i).sink) sink->ReleaseHeldPackets();
    }
    videoPacer_.Stop();
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

int CTavolinTransmission::AddUser(int userId, uint32_t publicAddress, uint32_t localAddress, ITavolinPacketSink* sink) {
    if (PeerEntry* known = peers.Find(userId)) {
        // Media follows the peer to its new address, and only there.
        DeleteDestinations(*known);
        peers.SetAddresses(*known, publicAddress, localAddress);
        AddDestinations(*known);
        return 1;
    }
    if (!peers.Add(userId, publicAddress, localAddress, sink)) {
        LogTo(logSink, transport_log::kPeerTableFull);
        return 0;
    }
    if (sink) sink->SetTransmission(this);
    if (roomKeys_ && Protecting()) InstallPeerKeys(*roomKeys_, userId);
    return 1;
}

int CTavolinTransmission::SetUserAudioPort(int userId, uint16_t publicPort, uint16_t localPort) {
    return SetUserPort(userId, Medium::kVoice, publicPort, localPort);
}

int CTavolinTransmission::SetUserVideoPort(int userId, uint16_t publicPort, uint16_t localPort) {
    return SetUserPort(userId, Medium::kVideo, publicPort, localPort);
}

int CTavolinTransmission::SetUserPort(int userId, Medium medium, uint16_t publicPort, uint16_t localPort) {
    PeerEntry* peer = peers.Find(userId);
    if (!peer) return 0;
    peers.SetPorts(*peer, medium, publicPort, localPort);
    AddDestinationIfReachable(Session(medium), peer->PairInForce(medium));
    SendHello(*peer, true, medium);
    return 1;
}

int CTavolinTransmission::RemoveUser(int userId) {
    PeerEntry* peer = peers.Find(userId);
    if (!peer) {
        LogTo(logSink, transport_log::kRemoveUnknownUser);
        return 0;
    }
    DeleteDestinations(*peer);
    // Its SSRCs stay bound to its old pairs otherwise: re-added at new ones
    // (a relay that failed over), it would be taken for an SSRC collision.
    for (const Medium medium : kBothMedia) {
        CTavolinRTPSession* session = Session(medium);
        if (!session) continue;
        session->ForgetSourcesFrom(peer->PairInForce(medium));
        if (session->Protection()) session->Protection()->ForgetPeer(userId);
    }
    pathQueues_.Forget(userId);
    peers.Remove(*peer);
    return 1;
}

// ---- Sending ----------------------------------------------------------------

void CTavolinTransmission::RequestKeyFrame(int userId, uint32_t mediaSSRC) {
    PeerEntry* peer = peers.Find(userId);
    if (!peer || !videoSession) return;
    const rtp::RTPIPv4Address pair = peer->PairInForce(Medium::kVideo);
    if (!IsReachable(pair)) return;
    rtp::RTCPFeedbackRequest pictureLoss;
    pictureLoss.kind = rtp::RTCPFeedbackKind::kPictureLoss;
    pictureLoss.mediaSSRC = mediaSSRC;
    if (videoSession->SendFeedback(pair, &pictureLoss, 1, kPictureLossSpacingSeconds) > 0)
        Count(peer->link->pictureLossSent);
}

void CTavolinTransmission::OnPictureLossReceived(const PeerEntry* asker) {
    keyFrameRequested_ = true;
    if (asker) Count(asker->link->pictureLossReceived);
}

int CTavolinTransmission::NextVideoFrame() {
    if (!videoSession || !videoSession->IsActive()) return rtp::kErrorNotCreated;
    videoPacer_.BeginFrame();
    return 0;
}

bool CTavolinTransmission::SendVideo(const void* data, size_t length) {
    return videoSession && videoSession->IsActive() && videoPacer_.Push(static_cast<const uint8_t*>(data), length);
}

void CTavolinTransmission::EndVideoFrame() { videoPacer_.EndFrame(); }

void CTavolinTransmission::HoldVideoTo(const std::vector<int>& userIds) {
    if (!videoSession) return;
    std::vector<rtp::RTPIPv4Address> held;
    for (const int userId : userIds)
        if (const PeerEntry* peer = peers.Find(userId)) held.push_back(peer->PairInForce(Medium::kVideo));
    videoSession->SetHeldDestinations(std::move(held));
}

// Pacer thread: the frame's timestamp advances before its first fragment,
// by one frame interval whatever the camera captured meanwhile: a viewer
// takes a larger step for a lost frame. Paced on a congested uplink, the
// copies to the peers are spread over the datagram's slot, so that voice
// waits in the uplink's queue behind one copy rather than one for every peer.
void CTavolinTransmission::SendPacedVideo(bool firstOfFrame, const uint8_t* data, size_t length, double slotSeconds) {
    if (firstOfFrame) videoSession->IncrementTimestampDefault();
    if (slotSeconds <= 0 || !spreadVideoCopies_) {
        if (videoSession->SendPacket(data, length, kVideoPayloadType, false, 0) < 0) return;
    } else {
        std::vector<uint8_t>& built = pacedScratch_;
        if (videoSession->BuildPacket(data, length, kVideoPayloadType, false, 0, &built) < 0) return;
        const std::vector<rtp::RTPIPv4Address> destinations = videoSession->RtpDestinations();
        const std::chrono::duration<double> gap(std::min(pacing::kLongestCopyGapSeconds,
                                                         slotSeconds / std::max<size_t>(1, destinations.size())));
        // Each copy keeps to its place in the slot: a sleep that overran
        // (a busy machine) is not added to the next, or the pace would
        // fall behind the budget and the pacer hold ever more.
        const auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < destinations.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::nanoseconds>(gap * i));
            videoSession->SendBuilt(built, destinations[i]);
        }
    }
    sent_[Medium::kVideo].Add(rtp::kRTPFixedHeaderBytes + length);
}

bool CTavolinTransmission::SendAudio(const void* data, size_t length) {
    if (!audioSession || audioSession->SendPacket(data, length) < 0) return false;
    sent_[Medium::kVoice].Add(rtp::kRTPFixedHeaderBytes + length);
    return true;
}

// ---- Receiving ----------------------------------------------------------------

void CTavolinTransmission::QueueAudioPacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet) {
    QueuePacket(Medium::kVoice, source, packet);
}

void CTavolinTransmission::QueueVideoPacket(rtp::RTPSourceData* source, rtp::RTPPacket* packet) {
    QueuePacket(Medium::kVideo, source, packet);
}

// Poll thread, with the session's data-access lock held.
void CTavolinTransmission::QueuePacket(Medium medium, rtp::RTPSourceData* source, rtp::RTPPacket* packet) {
    CTavolinRTPSession* session = Session(medium);
    // The session's poll thread calls this, and Destroy stops it first.
    assert(session);
    const rtp::RTPIPv4Address* sender = source ? source->GetRTPDataAddress() : nullptr;
    if (!sender) {
        session->DeletePacket(packet);
        return;
    }
    if (medium == Medium::kVideo)
        TAVOLIN_HOP_TRACE(PacketQueued(videoPort, packet->GetSSRC(), packet->GetTimestamp(),
                                       rtp::RTPSystemClock::Instance().Now() - packet->GetReceiveTime()));
    ReceiveQueue& queue = Queue(medium);
    EnterCriticalSection(&queue.lock);
    const bool full = queue.packets.size() >= kReceiveQueueLimit;
    if (!full) queue.packets.push_back({sender->GetIP(), sender->GetPort(), packet});
    LeaveCriticalSection(&queue.lock);
    if (full) {
        session->DeletePacket(packet);
        ++queue.dropped;
        return;
    }
    AnnounceWaitingPackets(medium);
}

// Poll threads. Marked before posting, so that the window thread, which
// clears the mark as it takes the queue, never misses a packet.
void CTavolinTransmission::AnnounceWaitingPackets(Medium medium) {
    ReceiveQueue& queue = Queue(medium);
    EnterCriticalSection(&queue.lock);
    const bool post = !queue.announced && !queue.packets.empty();
    if (post) queue.announced = true;
    LeaveCriticalSection(&queue.lock);
    if (!post) return;
    const UINT message = medium == Medium::kVideo ? messages.videoReceived : messages.audioReceived;
    if (PostMessageA(window, message, 0, reinterpret_cast<LPARAM>(this))) return;
    EnterCriticalSection(&queue.lock);
    queue.announced = false;
    LeaveCriticalSection(&queue.lock);
}

void CTavolinTransmission::OnAudioReceived() { OnPacketReceived(Medium::kVoice); }

void CTavolinTransmission::OnVideoReceived() { OnPacketReceived(Medium::kVideo); }

// Takes what was queued when the message came, one packet at a time, so that
// a host that removes users or destroys the engine from a callback finds
// every other packet still in the queue. Later packets come with a message of
// their own. Voice that came meanwhile goes before each video packet: a long
// drain of video (a busy engine thread's backlog, decoding as it goes) would
// otherwise hold it past its playout time.
void CTavolinTransmission::OnPacketReceived(Medium medium) {
    ReceiveQueue& queue = Queue(medium);
    EnterCriticalSection(&queue.lock);
    queue.announced = false;
    size_t waiting = queue.packets.size();
    LeaveCriticalSection(&queue.lock);
    for (; waiting > 0; --waiting) {
        if (medium == Medium::kVideo && HasQueuedVoice()) OnPacketReceived(Medium::kVoice);
        EnterCriticalSection(&queue.lock);
        if (queue.packets.empty()) {
            LeaveCriticalSection(&queue.lock);
            return;
        }
        const QueuedPacket item = queue.packets.front();
        queue.packets.pop_front();
        LeaveCriticalSection(&queue.lock);
        DeliverPacket(item, medium);
    }
}

bool CTavolinTransmission::HasQueuedVoice() {
    EnterCriticalSection(&audioQueue.lock);
    const bool waiting = !audioQueue.packets.empty();
    LeaveCriticalSection(&audioQueue.lock);
    return waiting;
}

void CTavolinTransmission::GiveBack(rtp::RTPPacket* packet, Medium medium) {
    if (CTavolinRTPSession* session = Session(medium)) session->DeletePacket(packet);
}

void CTavolinTransmission::DeliverPacket(const QueuedPacket& item, Medium medium) {
    rtp::RTPPacket* packet = item.packet;
    PeerEntry* peer = peers.FindBySender(medium, item.address, item.port);
    if (!peer || !peer->sink) {
        GiveBack(packet, medium);
        return;
    }
    if (packet->GetPayloadType() == kHelloPayloadType) {
        peer->link->greetings[medium].Add(packet->GetPacketLength());
        const bool hello = BeginsWith(packet, kHelloText);
        const bool answer = BeginsWith(packet, kHelloAnswerText);
        // Given back before the host hears of it: the host may act on the
        // engine from its log sink or the event, removing this peer too.
        GiveBack(packet, medium);
        if (hello) {
            SendHello(*peer, false, medium);
        } else if (answer) {
            const int32_t userId = peer->userId;
            const bool first = peer->Settled(medium) == 0;
            peer->Settled(medium) = 1;
            if (medium == Medium::kVoice) LogTo(logSink, transport_log::kVoiceHelloAnswered);
            if (first && observer_) observer_->OnPeerGreeted(userId, medium == Medium::kVideo);
        }
        return;
    }
    peer->link->media[medium].Add(packet->GetPacketLength());
    if (medium == Medium::kVideo) {
        TAVOLIN_HOP_TRACE(PacketDrained(videoPort, packet->GetSSRC(), packet->GetTimestamp()));
        peer->sink->OnVideoPacket(peer->userId, packet);  // the sink owns it now
    } else {
        peer->sink->OnAudioPacket(peer->userId, packet->GetPayloadData(), packet->GetPayloadLength());
        GiveBack(packet, medium);
    }
}

// ---- Public address and greeting -----------------------------------------------

int CTavolinTransmission::RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data,
                                               size_t length) {
    for (const Medium medium : kBothMedia) {
        if (CTavolinRTPSession* session = Session(medium))
            session->RequestPublicAddress(serverAddress, serverPort, data, length);
    }
    return 1;
}

void CTavolinTransmission::RetryPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data,
                                              size_t length) {
    for (const Medium medium : kBothMedia) {
        CTavolinRTPSession* session = Session(medium);
        if (session && !session->hasPublicAddress.load())
            session->RequestPublicAddress(serverAddress, serverPort, data, length);
    }
}

bool CTavolinTransmission::HasPublicAddresses() const {
    for (const Medium medium : kBothMedia) {
        const CTavolinRTPSession* session = Session(medium);
        if (session && !session->hasPublicAddress.load()) return false;
    }
    return true;
}

void CTavolinTransmission::HearPlayersWithoutPublicAddress() {
    for (const Medium medium : kBothMedia)
        if (CTavolinRTPSession* session = Session(medium)) session->hearsPlayersWithoutAddress = true;
}

bool CTavolinTransmission::OnPublicAddress(uint32_t address, uint16_t port, int kind) {
    return PostPublicAddress(address, port, kind, address);
}

bool CTavolinTransmission::OnRelayedAddress(const rtp::RTPIPv4Address& relayed, uint32_t mappedAddress, int kind) {
    return PostPublicAddress(relayed.GetIP(), relayed.GetPort(), kind, mappedAddress);
}

// Poll thread. The record belongs to the window procedure once posted.
bool CTavolinTransmission::PostPublicAddress(uint32_t address, uint16_t port, int kind, uint32_t ownAddress) {
    auto record = std::make_unique<PublicAddressRecord>(PublicAddressRecord{address, port});
    const UINT message = kind == CTavolinRTPSession::kVoice ? messages.audioPublicAddress : messages.videoPublicAddress;
    if (!PostMessageA(window, message, reinterpret_cast<WPARAM>(record.get()),
                      reinterpret_cast<LPARAM>(messages.context)))
        return false;
    record.release();
    ownPublicAddress = ownAddress;
    return true;
}

bool CTavolinTransmission::GetRelayFigures(Medium medium, SessionRelayFigures* out) const {
    const CTavolinRTPSession* session = Session(medium);
    SessionRelay* relay = session ? session->Relay() : nullptr;
    if (!relay) return false;
    *out = relay->Figures();
    return true;
}

void CTavolinTransmission::SendHello(PeerEntry& peer, bool hello, Medium medium) {
    CTavolinRTPSession* session = Session(medium);
    if (!session) return;
    const rtp::RTPIPv4Address pair = peer.PairInForce(medium);
    if (!IsReachable(pair)) return;
    const char* text = hello ? kHelloText : kHelloAnswerText;
    session->SendPacketTo(text, std::strlen(text), kHelloPayloadType, false, pair);
    if (hello && peer.HelloTime(medium) == 0) peer.HelloTime(medium) = GetTickCount();
}

void CTavolinTransmission::GreetPeers() {
    const uint32_t now = GetTickCount();
    // By id: the host may remove peers from its log sink or an event while
    // they are greeted, which moves the others in the table.
    int32_t ids[kMaxPeers];
    const int count = peers.Count();
    for (int i = 0; i < count; ++i) ids[i] = peers.At(i).userId;
    for (int i = 0; i < count; ++i) {
        PeerEntry* const entry = peers.Find(ids[i]);
        if (!entry) continue;
        PeerEntry& peer = *entry;
        bool gaveUp = false;
        for (const Medium medium : kBothMedia) {
            if (gaveUp || peer.Settled(medium)) continue;
            const uint32_t helloTime = peer.HelloTime(medium);
            if (helloTime != 0) {
                const uint32_t elapsed = now - helloTime;
                if (elapsed > kHelloGiveUpAfterMs) {
                    peer.Settled(medium) = 1;
                    gaveUp = true;  // this peer's other medium waits for the next tick
                    continue;
                }
                if (elapsed >= kLocalFallbackAfterMs && peer.usePublic == 1) {
                    SwitchToLocalAddress(peer);
                    if (peers.Find(ids[i]) != &peer) break;
                }
            }
            SendHello(peer, true, medium);
        }
    }
}

void CTavolinTransmission::SwitchToLocalAddress(PeerEntry& peer) {
    if (peer.usePublic != 1 || ownPublicAddress.load() != peer.publicAddress) return;
    const int32_t userId = peer.userId;
    peer.audioHelloTime = 0;
    peer.videoHelloTime = 0;
    DeleteDestinations(peer);
    peers.UseLocalPairs(peer);
    AddDestinations(peer);
    // Told once the switch is whole: the host may remove the peer from its log sink.
    LogTo(logSink, transport_log::kSwitchToLocalAddress);
    if (observer_ && peers.Find(userId)) observer_->OnPeerSwitchedToLocal(userId);
}

// A peer's destinations are exactly the pairs in force, one per medium, and
// only those whose ports are known.
void CTavolinTransmission::AddDestinations(const PeerEntry& peer) {
    AddDestinationIfReachable(videoSession.get(), peer.PairInForce(Medium::kVideo));
    AddDestinationIfReachable(audioSession.get(), peer.PairInForce(Medium::kVoice));
}

void CTavolinTransmission::DeleteDestinations(const PeerEntry& peer) {
    DeleteDestinationIfPresent(videoSession.get(), peer.PairInForce(Medium::kVideo));
    DeleteDestinationIfPresent(audioSession.get(), peer.PairInForce(Medium::kVoice));
}

// Keeps the translator's mapping of each session's RTP port alive by sending
// to the address server the session asked, never to anyone else.
void CTavolinTransmission::SendTrans() {
    for (const Medium medium : kBothMedia) {
        CTavolinRTPSession* session = Session(medium);
        if (!session) continue;
        const rtp::RTPIPv4Address server(session->serverAddress.load(), session->serverPort.load());
        if (!IsReachable(server)) continue;
        session->SendPacketTo(kTransText, std::strlen(kTransText), kTransPayloadType, false, server);
    }
}
