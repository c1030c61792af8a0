// One player of the room: an engine on a thread of its own. The thread pumps
// the engine's messages and, between pumps, adds the players the lobby
// announces and runs the tasks posted to it, so every call on the engine
// happens on the thread that created it.
#pragma once

#include "testbed/lobby.h"
#include "testbed/measurement/engine_figures.h"
#include "testbed/measurement/pair_record.h"
#include "testbed/measurement/source_frames.h"
#include "testbed/picture_views.h"
#include "testbed/room_log.h"
#include "testbed/room_secret.h"
#include "testbed/tavolin_library.h"
#include "testbed/testbed_constants.h"

#include <tavolin/tavolin.h>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace room {

struct PlayerSetup {
    int userId = kFirstUserId;
    std::string cameraName;
    uint32_t localAddress = kLoopbackAddress;  // what the lobby tells the others
    uint32_t serverAddress = kLoopbackAddress;
    uint16_t serverPort = 0;
    // Given to the engine before Create, in order, when a relay server is
    // named; every one with the user and password below.
    std::vector<TavolinRelayServer> relays;
    std::string relayUser;
    std::string relayPassword;
    int relayPolicy = TAVOLIN_RELAY_NEVER;
    // The engine adapts its video to its uplink's budget.
    bool adaptUplink = false;
    // An encrypted room with these keys; a plain one without.
    std::optional<RoomSecret> roomSecret;
};

// What a task posted to a player may use; valid only during the task, on the
// player's engine thread.
class PlayerContext {
public:
    virtual ITavolinEngine& Engine() = 0;
    virtual int UserId() const = 0;
    virtual double Now() const = 0;
    // Adds the peer with its ports and view, and switches its video and voice on.
    virtual bool AddPeer(const PeerAddress& peer) = 0;
    virtual bool RemovePeer(int userId) = 0;
    // The lobby record of a peer added before (also after its removal).
    virtual std::optional<PeerAddress> KnownPeer(int userId) const = 0;

protected:
    ~PlayerContext() = default;
};
using PlayerTask = std::function<void(PlayerContext&)>;

// The senders' preview records by user id: fixed before any player starts.
using SourceMap = std::map<int, SourceFrames*>;

// One event of the engine, as the player heard it.
struct EngineEvent {
    int kind;
    int userId;
    int medium;
    bool operator==(const EngineEvent&) const = default;
};

// What became of a player, for the report; read after the player stopped.
struct PlayerOutcome {
    int userId = 0;
    bool engineCreated = false;
    bool cameraSelected = false;
    // What the lobby was told last, once both sessions learned their public
    // address (or, when the server did not answer, took the local one).
    std::optional<PeerAddress> ownAddress;
    std::set<int> peersAnnounced;     // by the lobby (or a task)
    std::set<int> peersAdded;         // and in the engine now
    std::vector<EngineEvent> events;  // in the order the engine told them
    // Whether `userId` answered our greeting on either medium.
    bool Greeted(int userId) const;
    std::vector<std::string> problems;
    EngineFigures engineFigures;  // read just before the engine was destroyed
    bool relayed = false;         // both sessions were relayed then
    // Each session's relay figures then (voice, video), when it has a relay.
    std::optional<TavolinRelayStatistics> relayFigures[2];
};

class Player final : private PlayerContext, private ITavolinEventSink, private ITavolinEventListener {
public:
    Player(const TavolinLibrary& library, PlayerSetup setup, Lobby& lobby, RoomLog& log, const Clock& clock,
           const SourceMap& sources, PictureChecker& checker);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    void Start();
    // Runs `task` on the engine thread between two pumps.
    void Post(PlayerTask task);
    // Ends the thread after the engine is destroyed; posted tasks not yet run are dropped.
    void Stop();

    int Id() const { return setup_.userId; }

    // Safe from any thread while the player runs.
    bool KnowsPublicAddress() const { return knowsPublicAddress_.load(); }
    int PeersInEngine() const { return peersInEngine_.load(); }
    uint64_t DrawnFrom(int sender) const { return PairOf(sender).Drawn(); }

    // After Stop.
    const PlayerOutcome& Outcome() const { return outcome_; }
    const PairRecord& PairOf(int sender) const { return pairs_.at(Slot(sender)); }
    uint64_t MalformedPictures() const;

private:
    static size_t Slot(int userId) { return static_cast<size_t>(userId - kFirstUserId); }
    void Run();
    // Before Create: the relay server and policy of the setup.
    void UseRelay();
    // A player the lobby told of: added, or removed and added again when told anew.
    void TakePeer(const PeerAddress& peer);
    void AdaptUplink();
    // Whether both sessions are relayed now; keeps their figures in the outcome.
    bool Relayed();
    void StartLocalMedia();
    void RunPostedTasks();
    void PublishWhenBothAddressesKnown();
    void TakeLocalAddress(bool video);

    // PlayerContext
    ITavolinEngine& Engine() override { return *engine_; }
    int UserId() const override { return setup_.userId; }
    double Now() const override { return clock_(); }
    bool AddPeer(const PeerAddress& peer) override;
    bool RemovePeer(int userId) override;
    std::optional<PeerAddress> KnownPeer(int userId) const override;

    // ITavolinEventSink
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int OnAudioAddress(uint32_t publicAddress, uint32_t localAddress, int publicPort, int localPort) override;
    int OnVideoAddress(uint32_t publicAddress, uint32_t localAddress, int publicPort, int localPort) override;

    // ITavolinEventListener
    void OnEvent(const TavolinEvent* event) override;

    struct SessionAddress {
        uint32_t publicAddress = 0;
        uint16_t publicPort = 0;
        uint16_t localPort = 0;
    };

    const TavolinLibrary& library_;
    const PlayerSetup setup_;
    Lobby& lobby_;
    const Clock& clock_;
    PlayerLogSink logSink_;
    PreviewView preview_;
    std::array<PairRecord, kMaxPlayers> pairs_;
    std::vector<std::unique_ptr<RemoteView>> remoteViews_;  // by slot

    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::mutex tasksMutex_;
    std::deque<PlayerTask> tasks_;

    // Engine thread only (read by others after Stop).
    ITavolinEngine* engine_ = nullptr;
    ITavolinEvents* events_ = nullptr;
    std::optional<SessionAddress> audio_;
    std::optional<SessionAddress> video_;
    std::map<int, PeerAddress> knownPeers_;
    PlayerOutcome outcome_;

    std::atomic<bool> knowsPublicAddress_{false};
    std::atomic<int> peersInEngine_{0};
};

}  // namespace room
