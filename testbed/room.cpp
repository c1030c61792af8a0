#include "testbed/room.h"

#include "testbed/testbed_constants.h"

#include <array>
#include <thread>

namespace room {
namespace {
constexpr auto kWaitPollInterval = std::chrono::milliseconds(20);
constexpr int kCameraOff = 0;

// Moving synthetic pictures, a different one for each of up to 16 players.
// The cameras draw on the same cores as the engines, so those cheap to draw
// come first: ball, bar, gradient, gamut, colour bars, blinking, checkers,
// zone plates; circles and pinwheel (1 to 1.6 ms a picture) only in the
// largest rooms. Spokes (2.2 ms a picture) are left out.
constexpr std::array kSyntheticPatterns{18, 20, 23, 15, 19, 13, 0, 24, 12, 10, 9, 8, 14, 16, 11, 21};
static_assert(kSyntheticPatterns.size() == kMaxPlayers);
}  // namespace

RoomPlayer SyntheticCameraPlayer(int userId, uint32_t localAddress, uint32_t serverAddress, uint16_t serverPort) {
    RoomPlayer player;
    player.setup.userId = userId;
    player.setup.cameraName = "room-camera-" + std::to_string(userId);
    player.setup.localAddress = localAddress;
    player.setup.serverAddress = serverAddress;
    player.setup.serverPort = serverPort;
    player.syntheticPattern = kSyntheticPatterns.at(static_cast<size_t>(userId - kFirstUserId));
    return player;
}

Room::Room(const TavolinLibrary& library, std::vector<RoomPlayer> players, int playersInRoom, Lobby& lobby)
    : library_(library),
      setups_(std::move(players)),
      playersInRoom_(playersInRoom),
      lobby_(lobby),
      clock_([start = start_] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      }) {
    for (const RoomPlayer& player : setups_) {
        auto& source = ownedSources_[player.setup.userId];
        source = std::make_unique<SourceFrames>();
        sources_[player.setup.userId] = source.get();
    }
    for (const RoomPlayer& player : setups_)
        players_[player.setup.userId] =
            std::make_unique<Player>(library_, player.setup, lobby_, log_, clock_, sources_, checker_);
}

Room::~Room() { Stop(); }

bool Room::Start(std::string* error) {
    for (const RoomPlayer& player : setups_) {
        if (!player.syntheticPattern) continue;
        camerasAdded_ = true;
        if (!library_.AddSyntheticCamera(player.setup.cameraName.c_str(), *player.syntheticPattern, kCameraWidth,
                                         kCameraHeight, kCameraFramesPerSecond, TAVOLIN_CAMERA_STAMP_FRAME_NUMBER)) {
            *error = "cannot add the synthetic camera " + player.setup.cameraName;
            return false;
        }
    }
    for (auto& [id, player] : players_) player->Start();
    started_ = true;
    return true;
}

void Room::Post(int userId, PlayerTask task) { players_.at(userId)->Post(std::move(task)); }

RoomStatus Room::Status() const {
    RoomStatus status;
    for (const auto& [viewer, player] : players_) {
        ++status.players;
        if (player->KnowsPublicAddress()) ++status.playersWithPublicAddress;
        if (player->PeersInEngine() == playersInRoom_ - 1) ++status.playersWithAllPeers;
        status.framesCaptured += sources_.at(viewer)->CapturedCount();
        for (int sender = kFirstUserId; sender < kFirstUserId + playersInRoom_; ++sender) {
            if (sender == viewer) continue;
            ++status.pairs;
            const uint64_t drawn = player->DrawnFrom(sender);
            if (drawn > 0) ++status.pairsWithVideo;
            status.framesDrawn += drawn;
        }
    }
    return status;
}

bool Room::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kWaitPollInterval);
    }
    return true;
}

void Room::Stop() {
    if (stopped_) return;
    stopped_ = true;
    if (started_) {
        for (auto& [id, player] : players_)
            player->Post([](PlayerContext& context) {
                ITavolinUser* local = nullptr;
                if (context.Engine().GetUser(context.UserId(), &local) && local) local->EnableVideo(kCameraOff);
            });
        std::this_thread::sleep_for(kDrainAfterCamerasStop);
    }
    for (auto& [id, player] : players_) player->Stop();
    checker_.Finish();
    if (camerasAdded_) library_.RemoveSyntheticCameras();
}

RoomReport Room::Report() const {
    RoomReport report;
    report.playersInRoom = playersInRoom_;
    for (const auto& [id, player] : players_) {
        report.players.push_back(player->Outcome());
        const SourceFrames& source = *sources_.at(id);
        report.senders.push_back(SummarizeSender(id, source));
    }
    for (const auto& [viewer, player] : players_) {
        for (int sender = kFirstUserId; sender < kFirstUserId + playersInRoom_; ++sender) {
            if (sender == viewer) continue;
            const auto source = sources_.find(sender);
            const SourceFrames* senderSource = source == sources_.end() ? nullptr : source->second;
            report.pairs.push_back(player->PairOf(sender).Summarize(viewer, sender, senderSource));
        }
    }
    report.failures = FindFailures(report);
    report.picturesChecked = checker_.Checked();
    report.picturesMissed = checker_.Missed();
    return report;
}

const std::vector<uint8_t>& Room::LastPicture(int viewer, int sender) const {
    return sender == viewer ? sources_.at(viewer)->LastPicture() : players_.at(viewer)->PairOf(sender).LastPicture();
}

std::vector<int> Room::PlayerIds() const {
    std::vector<int> ids;
    for (const auto& [id, player] : players_) ids.push_back(id);
    return ids;
}

}  // namespace room
