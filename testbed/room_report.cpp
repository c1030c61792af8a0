#include "testbed/room_report.h"

namespace room {
namespace {
std::string WhyNothingWasShown(const RoomReport& report, int viewerId, int senderId) {
    const PlayerOutcome& viewer = *report.PlayerOf(viewerId);
    const PlayerOutcome* sender = report.PlayerOf(senderId);  // null: another process
    const SenderSummary* camera = report.SenderOf(senderId);
    if (!viewer.engineCreated) return "the viewer's engine was not created";
    if (sender && !sender->engineCreated) return "the sender's engine was not created";
    if (sender && !sender->cameraSelected) return "the sender has no camera";
    if (camera && camera->captured == 0) return "the sender's camera delivered no frames";
    if (!viewer.ownAddress) return "the viewer never learned its public address (no answer from the address server)";
    if (sender && !sender->ownAddress)
        return "the sender never learned its public address (no answer from the address server)";
    if (!viewer.peersAnnounced.count(senderId))
        return "the lobby never announced the sender (it learned no public address or is not running)";
    if (!viewer.peersAdded.count(senderId)) return "the viewer's engine refused the sender";
    if (sender && !sender->peersAdded.count(viewerId))
        return "the sender's engine does not have the viewer, so it sends it nothing";
    if (!viewer.Greeted(senderId))
        return "no packets: the sender never answered the viewer's greeting (no REHI), so nothing of it arrives";
    return "packets arrive (the sender answered the greeting) but no complete key frame was decoded";
}
}  // namespace

const PairSummary* RoomReport::Pair(int viewer, int sender) const {
    for (const PairSummary& pair : pairs)
        if (pair.viewer == viewer && pair.sender == sender) return &pair;
    return nullptr;
}

const PlayerOutcome* RoomReport::PlayerOf(int userId) const {
    for (const PlayerOutcome& player : players)
        if (player.userId == userId) return &player;
    return nullptr;
}

const SenderSummary* RoomReport::SenderOf(int userId) const {
    for (const SenderSummary& sender : senders)
        if (sender.sender == userId) return &sender;
    return nullptr;
}

SenderSummary SummarizeSender(int sender, const SourceFrames& source) {
    SenderSummary summary;
    summary.sender = sender;
    summary.captured = source.CapturedCount();
    summary.unstamped = source.UnstampedCount();
    const double span = source.LastTime() - source.FirstTime();
    if (summary.captured > 1 && span > 0) summary.framesPerSecond = static_cast<double>(summary.captured - 1) / span;
    return summary;
}

std::vector<PairFailure> FindFailures(const RoomReport& report) {
    std::vector<PairFailure> failures;
    for (const PairSummary& pair : report.pairs)
        if (pair.frames == 0)
            failures.push_back({pair.viewer, pair.sender, WhyNothingWasShown(report, pair.viewer, pair.sender)});
    return failures;
}

}  // namespace room
