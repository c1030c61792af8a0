// What a room run came to: each player's outcome, each sender's camera,
// each viewer and sender's figures, and why pairs that showed nothing failed.
#pragma once

#include "testbed/measurement/pair_record.h"
#include "testbed/measurement/source_frames.h"
#include "testbed/player.h"

#include <string>
#include <vector>

namespace room {

// One player's own camera as its preview saw it.
struct SenderSummary {
    int sender = 0;
    uint64_t captured = 0;
    uint64_t unstamped = 0;
    double framesPerSecond = 0;
};

struct PairFailure {
    int viewer = 0;
    int sender = 0;
    std::string reason;
};

struct RoomReport {
    int playersInRoom = 0;
    std::vector<PlayerOutcome> players;  // the players of this process
    std::vector<SenderSummary> senders;  // their previews
    std::vector<PairSummary> pairs;      // viewer here, sender anywhere
    std::vector<PairFailure> failures;   // pairs without a single picture
    // Pictures shown that the demo looked at, and those it had no room for.
    uint64_t picturesChecked = 0;
    uint64_t picturesMissed = 0;

    bool EveryViewerSawEverySender() const { return failures.empty(); }
    const PairSummary* Pair(int viewer, int sender) const;
    const PlayerOutcome* PlayerOf(int userId) const;
    const SenderSummary* SenderOf(int userId) const;
};

SenderSummary SummarizeSender(int sender, const SourceFrames& source);

// Every pair that drew nothing, with the most likely reason as the host can
// see it: engine, camera, public address, lobby, greeting, key frame.
std::vector<PairFailure> FindFailures(const RoomReport& report);

}  // namespace room
