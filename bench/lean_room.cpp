#include "bench/lean_room.h"

#include "bench/thread_cpu.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace bench {
namespace {
constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kCodecFlag = 0;
constexpr int kSendAndReceive = 0;
constexpr int kOn = 1;
constexpr uint32_t kPumpSliceMs = 10;
constexpr int kCameraWidth = 320, kCameraHeight = 240, kCameraFps = 15;
constexpr auto kReadyTimeout = std::chrono::seconds(20);
constexpr auto kTallyAnswerTimeout = std::chrono::seconds(1);
// Patterns cheap to draw first, one per player (as the room demo picks).
constexpr int kPatterns[16] = {18, 20, 23, 15, 19, 13, 0, 24, 12, 10, 9, 8, 14, 16, 11, 21};
}  // namespace

int CountingView::DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int) {
    // The size comes from the picture's shape: the engine leaves biSizeImage 0,
    // as uncompressed pictures may, and the length argument is not the size.
    if (!keptAll_.load(std::memory_order_relaxed) && picturesToKeep_ > 0 && header && bytes) {
        const size_t size = static_cast<size_t>(header->biWidth) * static_cast<size_t>(std::abs(header->biHeight)) *
                            header->biBitCount / 8;
        kept_.emplace_back(bytes, bytes + size);
        if (kept_.size() == picturesToKeep_) keptAll_.store(true, std::memory_order_release);
    }
    drawn_.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

const std::vector<std::vector<uint8_t>>* CountingView::KeptPictures() const {
    return keptAll_.load(std::memory_order_acquire) ? &kept_ : nullptr;
}

LeanPlayer::LeanPlayer(const room::TavolinLibrary& library, int userId, std::string cameraName, uint16_t serverPort,
                       room::Lobby& lobby, std::mutex& createTurn, std::atomic<int>& created, int playersInRoom,
                       size_t picturesToKeep)
    : library_(library),
      userId_(userId),
      cameraName_(std::move(cameraName)),
      serverPort_(serverPort),
      lobby_(lobby),
      createTurn_(createTurn),
      created_(created),
      playersInRoom_(playersInRoom),
      preview_(picturesToKeep) {
    for (int id = 1; id <= 16; ++id) views_.push_back(std::make_unique<CountingView>());
    own_.userId = userId;
    own_.localAddress = kLoopback;
}

LeanPlayer::~LeanPlayer() { Stop(); }

void LeanPlayer::Start() {
    thread_ = std::thread([this] { Run(); });
}

void LeanPlayer::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool LeanPlayer::Ready(int playersInRoom) const {
    if (peers_.load() != playersInRoom - 1 || Encoded() == 0) return false;
    for (int id = 1; id <= playersInRoom; ++id)
        if (id != userId_ && views_[static_cast<size_t>(id - 1)]->Drawn() == 0) return false;
    return true;
}

uint64_t LeanPlayer::Decoded() const {
    uint64_t decoded = 0;
    for (const auto& view : views_) decoded += view->Drawn();
    return decoded;
}

std::set<pid_t> LeanPlayer::EngineThreads() const {
    std::lock_guard lock(threadsMutex_);
    return engineThreads_;
}

void LeanPlayer::Run() {
    engine_ = library_.CreateEngine();
    if (!engine_) return;
    engine_->SetEventSink(this);
    bool created = false;
    {
        std::lock_guard turn(createTurn_);
        const std::set<pid_t> before = ThreadIds();
        created =
            (!keys_ || room::EncryptRoom(*engine_, *keys_)) &&
            engine_->Create(library_.Instance(), kLoopback, serverPort_, userId_, kCodecFlag, kSendAndReceive) == 1;
        std::lock_guard lock(threadsMutex_);
        pumpThread_ = CurrentThreadId();
        engineThreads_.insert(pumpThread_.load());
        for (const pid_t tid : ThreadIds())
            if (!before.count(tid)) engineThreads_.insert(tid);
        ++created_;
    }
    while (created_.load() < playersInRoom_ && !stop_) library_.PumpMessages(kPumpSliceMs);
    if (created) {
        engine_->SetUserView(userId_, &preview_);
        ITavolinVideoDevice* device = nullptr;
        if (SUCCEEDED(engine_->QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device))) && device) {
            device->SelectDevice(cameraName_.c_str());
            device->Release();
        }
        ITavolinUser* local = nullptr;
        if (engine_->GetUser(userId_, &local) && local) local->EnableVideo(kOn);
    }
    while (!stop_) {
        library_.PumpMessages(kPumpSliceMs);
        PublishWhenBothKnown();  // held back while engines were being created
        if (created)
            for (const room::PeerAddress& peer : lobby_.TakeNewPeers(userId_)) AddPeer(peer);
        AnswerTallyQuestion();
    }
    {
        std::lock_guard lock(tallyMutex_);
        tally_ = {};
        tallyAsked_ = false;
    }
    tallyAnswered_.notify_all();
    engine_->Destroy();
    engine_->Release();
    engine_ = nullptr;
}

EngineTally LeanPlayer::Tally() {
    std::unique_lock lock(tallyMutex_);
    if (stop_) return {};
    tallyAsked_ = true;
    tallyAnswered_.wait_for(lock, kTallyAnswerTimeout, [this] { return !tallyAsked_; });
    return tally_;
}

void LeanPlayer::AnswerTallyQuestion() {
    {
        std::lock_guard lock(tallyMutex_);
        if (!tallyAsked_) return;
    }
    EngineTally tally;
    ITavolinStatistics* statistics = nullptr;
    if (SUCCEEDED(engine_->QueryInterface(IID_ITavolinStatistics, reinterpret_cast<void**>(&statistics))) &&
        statistics) {
        TavolinLocalStatistics local{};
        local.size = sizeof local;
        if (statistics->GetLocalStatistics(&local)) tally.codecSeconds += local.videoCodingCpuSeconds;
        for (int id = 1; id <= playersInRoom_; ++id) {
            TavolinPeerStatistics peer{};
            peer.size = sizeof peer;
            if (id == userId_ || !statistics->GetPeerStatistics(id, &peer)) continue;
            tally.codecSeconds += peer.videoDecodingCpuSeconds;
            tally.videoPacketsReceived += peer.videoPacketsReceived;
        }
        statistics->Release();
    }
    {
        std::lock_guard lock(tallyMutex_);
        tally_ = tally;
        tallyAsked_ = false;
    }
    tallyAnswered_.notify_all();
}

void LeanPlayer::AddPeer(const room::PeerAddress& peer) {
    const int id = peer.userId;
    if (id < 1 || id > 16) return;
    if (engine_->AddUser(id, peer.publicAddress, peer.localAddress) != 1) return;
    engine_->SetUserAudioPort(id, peer.audioPublicPort, peer.audioLocalPort);
    engine_->SetUserVideoPort(id, peer.videoPublicPort, peer.videoLocalPort);
    engine_->SetUserView(id, views_[static_cast<size_t>(id - 1)].get());
    ITavolinUser* user = nullptr;
    if (engine_->GetUser(id, &user) == 1 && user) user->EnableVideo(kOn);
    ++peers_;
}

int LeanPlayer::OnAudioAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) {
    own_.publicAddress = publicAddress;
    own_.audioPublicPort = static_cast<uint16_t>(publicPort);
    own_.audioLocalPort = static_cast<uint16_t>(localPort);
    audioKnown_ = true;
    PublishWhenBothKnown();
    return 1;
}

int LeanPlayer::OnVideoAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) {
    own_.publicAddress = publicAddress;
    own_.videoPublicPort = static_cast<uint16_t>(publicPort);
    own_.videoLocalPort = static_cast<uint16_t>(localPort);
    videoKnown_ = true;
    PublishWhenBothKnown();
    return 1;
}

void LeanPlayer::PublishWhenBothKnown() {
    if (!audioKnown_ || !videoKnown_ || published_ || created_.load() < playersInRoom_) return;
    published_ = lobby_.Publish(own_);
}

LeanRoom::LeanRoom(const room::TavolinLibrary& library, int players, uint16_t serverPort, size_t picturesToKeep,
                   room::Lobby* lobby)
    : library_(library), count_(players), lobby_(lobby ? *lobby : sharedLobby_) {
    for (int id = 1; id <= players; ++id)
        players_.push_back(std::make_unique<LeanPlayer>(library, id, "bench-camera-" + std::to_string(id), serverPort,
                                                        lobby_, createTurn_, created_, players, picturesToKeep));
}

LeanRoom::~LeanRoom() { Stop(); }

void LeanRoom::Encrypt(const room::RoomSecret& keys) {
    for (const auto& player : players_) player->Encrypt(&keys);
}

bool LeanRoom::StartAndWait(std::string* error) {
    library_.RegisterComponent(CLSID_TavolinAudioEngine, nullptr);
    for (int id = 1; id <= count_; ++id)
        if (!library_.AddSyntheticCamera(("bench-camera-" + std::to_string(id)).c_str(), kPatterns[id - 1],
                                         kCameraWidth, kCameraHeight, kCameraFps, 0)) {
            *error = "cannot add a synthetic camera";
            return false;
        }
    for (auto& player : players_) player->Start();
    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    for (auto& player : players_)
        while (!player->Ready(count_)) {
            if (std::chrono::steady_clock::now() > deadline) {
                *error = "not every pair showed video within 20 s";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    return true;
}

void LeanRoom::Stop() {
    if (stopped_) return;
    stopped_ = true;
    for (auto& player : players_) player->Stop();
    library_.RemoveSyntheticCameras();
}

std::set<pid_t> LeanRoom::EngineThreads() const {
    std::set<pid_t> threads;
    for (const auto& player : players_) threads.merge(player->EngineThreads());
    return threads;
}

EngineTally LeanRoom::Tally() const {
    EngineTally tally;
    for (const auto& player : players_) tally += player->Tally();
    return tally;
}

std::set<pid_t> LeanRoom::PumpThreads() const {
    std::set<pid_t> threads;
    for (const auto& player : players_) threads.insert(player->PumpThread());
    return threads;
}

uint64_t LeanRoom::Encoded() const {
    uint64_t total = 0;
    for (const auto& player : players_) total += player->Encoded();
    return total;
}

uint64_t LeanRoom::Decoded() const {
    uint64_t total = 0;
    for (const auto& player : players_) total += player->Decoded();
    return total;
}

}  // namespace bench
