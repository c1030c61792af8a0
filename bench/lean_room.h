// A room of engines in this process without the demo's measurements: views
// only count pictures (the local one also keeps the first few it is shown),
// so that what the engine threads spend is the engine's. Each engine runs on
// a thread of its own; the ids of that thread and of the threads its Create
// started (the RTP poll threads) are kept, engines being created one at a
// time so that no other engine's threads are taken for its own. No camera
// starts, and no player publishes its addresses to the lobby, before every
// engine is created, so camera threads and threads the lobby starts (a
// relay's) are never among them.
#pragma once

#include "testbed/lobby.h"
#include "testbed/room_secret.h"
#include "testbed/tavolin_library.h"

#include <sys/types.h>
#include <tavolin/tavolin.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// From an engine's statistics: what its video library spent, and the video
// datagrams it took in.
struct EngineTally {
    double codecSeconds = 0;  // coding and decoding
    uint64_t videoPacketsReceived = 0;
    EngineTally& operator+=(const EngineTally& other) {
        codecSeconds += other.codecSeconds;
        videoPacketsReceived += other.videoPacketsReceived;
        return *this;
    }
};

class CountingView final : public ITavolinUserView {
public:
    explicit CountingView(size_t picturesToKeep = 0) : picturesToKeep_(picturesToKeep) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int length) override;
    int SetLevel(int) override { return 1; }
    int Reserved() override { return 0; }
    int OnVideoEnabled(int) override { return 1; }
    int OnAudioEnabled(int) override { return 1; }

    uint64_t Drawn() const { return drawn_.load(std::memory_order_relaxed); }
    // The first pictures shown, once picturesToKeep of them came.
    const std::vector<std::vector<uint8_t>>* KeptPictures() const;

private:
    const size_t picturesToKeep_;
    std::vector<std::vector<uint8_t>> kept_;
    std::atomic<bool> keptAll_{false};
    std::atomic<uint64_t> drawn_{0};
};

class LeanPlayer final : private ITavolinEventSink {
public:
    LeanPlayer(const room::TavolinLibrary& library, int userId, std::string cameraName, uint16_t serverPort,
               room::Lobby& lobby, std::mutex& createTurn, std::atomic<int>& created, int playersInRoom,
               size_t picturesToKeep);
    ~LeanPlayer();
    // Before Start: an encrypted room with these keys (not owned).
    void Encrypt(const room::RoomSecret* keys) { keys_ = keys; }
    void Start();
    void Stop();

    bool Ready(int playersInRoom) const;                   // every peer added and seen at least once
    uint64_t Encoded() const { return preview_.Drawn(); }  // every encoded frame is previewed first
    uint64_t Decoded() const;
    const CountingView& Preview() const { return preview_; }
    // The engine thread and the threads its Create started; known once Ready.
    std::set<pid_t> EngineThreads() const;
    pid_t PumpThread() const { return pumpThread_.load(); }
    // The engine's statistics so far, read on its thread (as they must be);
    // zero once stopped.
    EngineTally Tally();

private:
    void Run();
    void AddPeer(const room::PeerAddress& peer);
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int OnAudioAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) override;
    int OnVideoAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) override;
    void PublishWhenBothKnown();
    void AnswerTallyQuestion();

    const room::TavolinLibrary& library_;
    const int userId_;
    const std::string cameraName_;
    const uint16_t serverPort_;
    room::Lobby& lobby_;
    std::mutex& createTurn_;
    std::atomic<int>& created_;  // engines past Create, in the whole room
    const int playersInRoom_;
    const room::RoomSecret* keys_ = nullptr;
    CountingView preview_;
    std::vector<std::unique_ptr<CountingView>> views_;  // by user id - 1
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> peers_{0};
    mutable std::mutex threadsMutex_;
    std::set<pid_t> engineThreads_;
    std::atomic<pid_t> pumpThread_{0};
    ITavolinEngine* engine_ = nullptr;
    std::mutex tallyMutex_;
    std::condition_variable tallyAnswered_;
    bool tallyAsked_ = false;
    EngineTally tally_;
    room::PeerAddress own_;
    bool audioKnown_ = false, videoKnown_ = false, published_ = false;
};

// N players with synthetic cameras (320 x 240 at 15 fps, scaled by the
// engine) on loopback, video only: the voice component is removed, as the
// baseline holds no voice. Players meet in a lobby of the room's own unless
// one is given (e.g. one that relays them through an impairment relay).
class LeanRoom {
public:
    LeanRoom(const room::TavolinLibrary& library, int players, uint16_t serverPort, size_t picturesToKeep,
             room::Lobby* lobby = nullptr);
    ~LeanRoom();
    // Before StartAndWait: every player in an encrypted room with these keys.
    void Encrypt(const room::RoomSecret& keys);
    // False when not every pair showed video within the time allowed.
    bool StartAndWait(std::string* error);
    void Stop();
    const std::vector<std::unique_ptr<LeanPlayer>>& Players() const { return players_; }
    std::set<pid_t> EngineThreads() const;
    std::set<pid_t> PumpThreads() const;  // the threads that called Create
    uint64_t Encoded() const;
    uint64_t Decoded() const;
    EngineTally Tally() const;  // of every engine, see LeanPlayer::Tally

private:
    const room::TavolinLibrary& library_;
    const int count_;
    room::SharedLobby sharedLobby_;
    room::Lobby& lobby_;
    std::mutex createTurn_;
    std::atomic<int> created_{0};
    std::vector<std::unique_ptr<LeanPlayer>> players_;
    bool stopped_ = false;
};

}  // namespace bench
