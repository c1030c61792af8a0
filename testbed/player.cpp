#include "testbed/player.h"

#include <cstring>

namespace room {
namespace {
constexpr int kCodecFlag = 0;       // has no effect; 0 as hosts pass it
constexpr int kSendAndReceive = 0;  // receive-only flag off: the player has a camera
constexpr int kOn = 1;

const SourceFrames* FindSource(const SourceMap& sources, int userId) {
    const auto found = sources.find(userId);
    return found == sources.end() ? nullptr : found->second;
}
}  // namespace

Player::Player(const TavolinLibrary& library, PlayerSetup setup, Lobby& lobby, RoomLog& log, const Clock& clock,
               const SourceMap& sources, PictureChecker& checker)
    : library_(library),
      setup_(std::move(setup)),
      lobby_(lobby),
      clock_(clock),
      logSink_(log, setup_.userId),
      preview_(clock, checker, *sources.at(setup_.userId)) {
    outcome_.userId = setup_.userId;
    for (int sender = kFirstUserId; sender < kFirstUserId + kMaxPlayers; ++sender)
        remoteViews_.push_back(std::make_unique<RemoteView>(clock, checker, pairs_[Slot(sender)],
                                                            FindSource(sources, sender)));
}

Player::~Player() { Stop(); }

void Player::Start() {
    thread_ = std::thread([this] { Run(); });
}

void Player::Post(PlayerTask task) {
    std::lock_guard lock(tasksMutex_);
    tasks_.push_back(std::move(task));
}

void Player::Stop() {
    stopRequested_ = true;
    if (thread_.joinable()) thread_.join();
}

uint64_t Player::MalformedPictures() const {
    uint64_t malformed = preview_.Malformed();
    for (const auto& view : remoteViews_) malformed += view->Malformed();
    return malformed;
}

void Player::Run() {
    engine_ = library_.CreateEngine();
    if (!engine_) {
        outcome_.problems.push_back("the library handed out no engine");
        return;
    }
    engine_->SetEventSink(this);
    if (SUCCEEDED(engine_->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events_))) && events_)
        events_->Subscribe(this);
    if (setup_.relayPolicy != TAVOLIN_RELAY_NEVER) UseRelay();
    if (setup_.adaptUplink) AdaptUplink();
    if (setup_.roomSecret && !EncryptRoom(*engine_, *setup_.roomSecret))
        outcome_.problems.push_back("the room's keys were refused");
    outcome_.engineCreated = engine_->Create(library_.Instance(), setup_.serverAddress, setup_.serverPort,
                                             setup_.userId, kCodecFlag, kSendAndReceive) == 1;
    if (outcome_.engineCreated)
        StartLocalMedia();
    else
        outcome_.problems.push_back("Create failed");
    while (!stopRequested_) {
        library_.PumpMessages(kPumpSliceMs);
        if (outcome_.engineCreated)
            for (const PeerAddress& peer : lobby_.TakeNewPeers(setup_.userId)) TakePeer(peer);
        RunPostedTasks();
    }
    if (outcome_.engineCreated) {
        outcome_.engineFigures = ReadEngineFigures(*engine_, outcome_.peersAdded);
        outcome_.relayed = Relayed();
    }
    engine_->Destroy();
    if (events_) {
        events_->Unsubscribe(this);
        events_->Release();
        events_ = nullptr;
    }
    engine_->Release();
    engine_ = nullptr;
}

void Player::OnEvent(const TavolinEvent* event) {
    outcome_.events.push_back({event->kind, event->userId, event->medium});
    if (event->kind == TAVOLIN_EVENT_PUBLIC_ADDRESS_TIMEOUT) TakeLocalAddress(event->medium == TAVOLIN_MEDIUM_VIDEO);
}

// The address server has not answered this session: the others reach it at
// the configured local address and the session's own port, as on a LAN.
void Player::TakeLocalAddress(bool video) {
    std::optional<SessionAddress>& session = video ? video_ : audio_;
    if (session) return;
    const uint16_t port = video ? engine_->GetLocalVideoPort() : engine_->GetLocalAudioPort();
    session = SessionAddress{setup_.localAddress, port, port};
    PublishWhenBothAddressesKnown();
}

bool PlayerOutcome::Greeted(int userId) const {
    for (const EngineEvent& event : events)
        if (event.kind == TAVOLIN_EVENT_PEER_GREETED && event.userId == userId) return true;
    return false;
}

// The preview view first, so the first picture of the camera is recorded;
// selecting the camera switches the local video on and starts it.
void Player::StartLocalMedia() {
    engine_->SetUserView(setup_.userId, &preview_);
    ITavolinVideoDevice* device = nullptr;
    if (SUCCEEDED(engine_->QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device))) && device) {
        outcome_.cameraSelected = device->SelectDevice(setup_.cameraName.c_str()) != 0;
        device->Release();
    }
    if (!outcome_.cameraSelected) outcome_.problems.push_back("no camera named \"" + setup_.cameraName + "\"");
    ITavolinUser* local = nullptr;
    if (engine_->GetUser(setup_.userId, &local) && local) {
        local->EnableVideo(kOn);
        local->EnableAudio(kOn);
    }
}

void Player::RunPostedTasks() {
    std::deque<PlayerTask> tasks;
    {
        std::lock_guard lock(tasksMutex_);
        tasks.swap(tasks_);
    }
    for (PlayerTask& task : tasks)
        if (engine_) task(*this);
}

bool Player::AddPeer(const PeerAddress& peer) {
    knownPeers_[peer.userId] = peer;
    outcome_.peersAnnounced.insert(peer.userId);
    const int id = peer.userId;
    const auto fail = [&](const char* step) {
        outcome_.problems.push_back(std::string(step) + " failed for user " + std::to_string(id));
        return false;
    };
    if (id < kFirstUserId || id >= kFirstUserId + kMaxPlayers) return fail("a user id in 1..16");
    if (engine_->AddUser(id, peer.publicAddress, peer.localAddress) != 1) return fail("AddUser");
    if (engine_->SetUserAudioPort(id, peer.audioPublicPort, peer.audioLocalPort) != 1) return fail("SetUserAudioPort");
    if (engine_->SetUserVideoPort(id, peer.videoPublicPort, peer.videoLocalPort) != 1) return fail("SetUserVideoPort");
    if (engine_->SetUserView(id, remoteViews_[Slot(id)].get()) != 1) return fail("SetUserView");
    ITavolinUser* user = nullptr;
    if (engine_->GetUser(id, &user) != 1 || !user) return fail("GetUser");
    user->EnableVideo(kOn);
    user->EnableAudio(kOn);
    if (outcome_.peersAdded.insert(id).second) ++peersInEngine_;
    return true;
}

// A player told again at new ports is removed and added anew: the engine
// takes a player's ports only as it adds the player.
void Player::TakePeer(const PeerAddress& peer) {
    const auto known = knownPeers_.find(peer.userId);
    if (known != knownPeers_.end() && known->second == peer) return;
    if (outcome_.peersAdded.count(peer.userId)) RemovePeer(peer.userId);
    AddPeer(peer);
}

bool Player::RemovePeer(int userId) {
    if (engine_->RemoveUser(userId) != 1) return false;
    if (outcome_.peersAdded.erase(userId)) --peersInEngine_;
    return true;
}

std::optional<PeerAddress> Player::KnownPeer(int userId) const {
    const auto found = knownPeers_.find(userId);
    if (found == knownPeers_.end()) return std::nullopt;
    return found->second;
}

void Player::AdaptUplink() {
    ITavolinUplink* uplink = nullptr;
    if (FAILED(engine_->QueryInterface(IID_ITavolinUplink, reinterpret_cast<void**>(&uplink))) || !uplink) {
        outcome_.problems.push_back("the engine has no uplink interface");
        return;
    }
    uplink->SetUplinkAdaptation(1);
    uplink->Release();
}

void Player::UseRelay() {
    ITavolinRelay* relay = nullptr;
    if (FAILED(engine_->QueryInterface(IID_ITavolinRelay, reinterpret_cast<void**>(&relay))) || !relay) {
        outcome_.problems.push_back("the engine has no relay interface");
        return;
    }
    std::vector<TavolinRelayServer> servers = setup_.relays;
    for (TavolinRelayServer& server : servers) {
        server.username = setup_.relayUser.c_str();
        server.password = setup_.relayPassword.c_str();
    }
    if (!relay->SetRelayServers(servers.data(), static_cast<int>(servers.size())))
        outcome_.problems.push_back("the engine refused the relay servers");
    if (!relay->SetRelayPolicy(setup_.relayPolicy)) outcome_.problems.push_back("the engine refused the relay policy");
    relay->Release();
}

bool Player::Relayed() {
    ITavolinRelay* relay = nullptr;
    if (FAILED(engine_->QueryInterface(IID_ITavolinRelay, reinterpret_cast<void**>(&relay))) || !relay) return false;
    bool relayed = true;
    for (const int medium : {TAVOLIN_MEDIUM_VOICE, TAVOLIN_MEDIUM_VIDEO}) {
        TavolinRelayStatistics figures{};
        figures.size = sizeof figures;
        const bool known = relay->GetRelayStatistics(medium, &figures);
        if (known) outcome_.relayFigures[medium] = figures;
        relayed = relayed && known && figures.relayed;
    }
    relay->Release();
    return relayed;
}

HRESULT Player::QueryInterface(const IID& iid, void** out) {
    if (!out) return E_POINTER;
    if (!IsEqualGUID(iid, IID_ITavolinLogSink)) return E_NOINTERFACE;
    *out = static_cast<ITavolinLogSink*>(&logSink_);
    return S_OK;
}

int Player::OnAudioAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) {
    audio_ = SessionAddress{publicAddress, static_cast<uint16_t>(publicPort), static_cast<uint16_t>(localPort)};
    PublishWhenBothAddressesKnown();
    return 1;
}

int Player::OnVideoAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) {
    video_ = SessionAddress{publicAddress, static_cast<uint16_t>(publicPort), static_cast<uint16_t>(localPort)};
    PublishWhenBothAddressesKnown();
    return 1;
}

// The engine's own idea of its local address (the machine's interface) is
// not what the others should use: the lobby gets the configured one. The
// lobby is told again once both sessions are at one new public address (the
// relay failed over, or the public address came after the local one was
// told), and the others then add this player anew.
void Player::PublishWhenBothAddressesKnown() {
    if (!audio_ || !video_) return;
    PeerAddress own;
    own.userId = setup_.userId;
    own.publicAddress = video_->publicAddress;
    own.localAddress = setup_.localAddress;
    own.audioPublicPort = audio_->publicPort;
    own.audioLocalPort = audio_->localPort;
    own.videoPublicPort = video_->publicPort;
    own.videoLocalPort = video_->localPort;
    const bool oneAddress = audio_->publicAddress == video_->publicAddress;
    if (outcome_.ownAddress && (own == *outcome_.ownAddress || !oneAddress)) return;
    if (!oneAddress)
        outcome_.problems.push_back("the sessions were seen from outside at two addresses: " +
                                    DottedAddress(audio_->publicAddress) + " and " +
                                    DottedAddress(video_->publicAddress));
    outcome_.ownAddress = own;
    knowsPublicAddress_ = true;
    if (!lobby_.Publish(own)) outcome_.problems.push_back("the lobby could not be told this player's address");
}

}  // namespace room
