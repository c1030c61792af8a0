// A room of players in this process: their synthetic cameras, their engines
// on threads of their own, the lobby between them, and the report at the end.
#pragma once

#include "testbed/lobby.h"
#include "testbed/measurement/picture_checker.h"
#include "testbed/measurement/source_frames.h"
#include "testbed/player.h"
#include "testbed/room_log.h"
#include "testbed/room_report.h"
#include "testbed/tavolin_library.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace room {

struct RoomPlayer {
    PlayerSetup setup;
    // A moving synthetic camera with stamped frame numbers, added under
    // setup.cameraName; without one the player uses a camera of that name.
    std::optional<int> syntheticPattern;
};

// A player with a synthetic camera of its own, named after it, whose moving
// pattern differs from its neighbours'.
RoomPlayer SyntheticCameraPlayer(int userId, uint32_t localAddress, uint32_t serverAddress, uint16_t serverPort);

// Counters that may be read while the room runs.
struct RoomStatus {
    int players = 0;  // in this process
    int playersWithPublicAddress = 0;
    int playersWithAllPeers = 0;  // every other player of the room is in its engine
    int pairs = 0;                // viewer in this process, sender anywhere
    int pairsWithVideo = 0;
    uint64_t framesCaptured = 0;  // by the players here, so far
    uint64_t framesDrawn = 0;     // of other players, by the players here, so far
};

class Room {
public:
    // `playersInRoom` counts the players of every process; ids are 1..playersInRoom.
    Room(const TavolinLibrary& library, std::vector<RoomPlayer> players, int playersInRoom, Lobby& lobby);
    ~Room();
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    bool Start(std::string* error);
    // Runs `task` on that player's engine thread.
    void Post(int userId, PlayerTask task);
    RoomStatus Status() const;
    // Polls `done` until it holds or `timeout` passes; true when it held.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) const;
    // Stops the cameras, lets the frames on their way arrive, then stops the
    // engines and checks the pictures they showed.
    void Stop();

    // After Stop.
    RoomReport Report() const;
    // The last picture `viewer`, a player here, was shown of `sender` (of
    // itself: its own preview's); empty when it was shown none.
    const std::vector<uint8_t>& LastPicture(int viewer, int sender) const;
    const Player& PlayerById(int userId) const { return *players_.at(userId); }
    const RoomLog& Log() const { return log_; }
    double Now() const { return clock_(); }
    // The players here, in id order.
    std::vector<int> PlayerIds() const;
    int PlayersInRoom() const { return playersInRoom_; }

private:
    const TavolinLibrary& library_;
    std::vector<RoomPlayer> setups_;
    int playersInRoom_;
    Lobby& lobby_;
    RoomLog log_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    const Clock clock_;
    std::map<int, std::unique_ptr<SourceFrames>> ownedSources_;
    SourceMap sources_;
    PictureChecker checker_;  // outlives the players, whose views submit to it
    std::map<int, std::unique_ptr<Player>> players_;
    bool camerasAdded_ = false;
    bool started_ = false;
    bool stopped_ = false;
};

}  // namespace room
