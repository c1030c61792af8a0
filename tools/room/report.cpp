#include "tools/room/report.h"

#include "tools/room/json_writer.h"
#include "tools/room/lobby.h"

#include <cstdio>

namespace room {
namespace {
std::string Figure(std::optional<double> value, const char* format) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

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

void PrintReport(const RoomReport& report, std::ostream& out) {
    char line[256];
    out << "\nplayer  public address     voice port  video port  captured   fps  path\n";
    for (const PlayerOutcome& player : report.players) {
        const SenderSummary* camera = report.SenderOf(player.userId);
        const std::string address = player.ownAddress ? DottedAddress(player.ownAddress->publicAddress) : "-";
        std::snprintf(line, sizeof line, "%6d  %-15s  %10s  %10s  %8llu  %5.1f  %s\n", player.userId, address.c_str(),
                      player.ownAddress ? std::to_string(player.ownAddress->audioPublicPort).c_str() : "-",
                      player.ownAddress ? std::to_string(player.ownAddress->videoPublicPort).c_str() : "-",
                      static_cast<unsigned long long>(camera ? camera->captured : 0),
                      camera ? camera->framesPerSecond : 0.0, player.relayed ? "relayed" : "direct");
        out << line;
        for (const std::string& problem : player.problems) out << "        problem: " << problem << '\n';
    }
    out << "\nviewer  sender  frames    fps  lost  latency ms med/p99  PSNR dB med/min  still ms p99/max  shown\n";
    for (const PairSummary& pair : report.pairs) {
        const std::string shown =
            pair.shownShare ? Figure(*pair.shownShare * 100, "%.0f%%") + " of " + std::to_string(*pair.sentSinceFirstShown)
                            : "-";
        std::snprintf(line, sizeof line, "%6d  %6d  %6llu  %5.1f  %4llu  %8s / %-8s  %7s / %-6s  %7s / %-7s  %s\n",
                      pair.viewer,
                      pair.sender, static_cast<unsigned long long>(pair.frames), pair.framesPerSecond,
                      static_cast<unsigned long long>(pair.lost), Figure(pair.latencyMedianMs, "%.0f").c_str(),
                      Figure(pair.latencyP99Ms, "%.0f").c_str(), Figure(pair.psnrMedianDb, "%.1f").c_str(),
                      Figure(pair.psnrMinDb, "%.1f").c_str(), Figure(pair.stillP99Ms, "%.0f").c_str(),
                      Figure(pair.stillMaxMs, "%.0f").c_str(), shown.c_str());
        out << line;
    }
    out << "\npictures checked " << report.picturesChecked << ", shown but not checked (checker busy) "
        << report.picturesMissed << '\n';
    if (report.failures.empty()) {
        out << "\nevery viewer decoded video from every other player\n";
        return;
    }
    out << '\n';
    for (const PairFailure& failure : report.failures)
        out << "FAILED: viewer " << failure.viewer << " never showed sender " << failure.sender << ": "
            << failure.reason << '\n';
}

std::string StatsJson(const RoomReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("players_in_room").Number(report.playersInRoom);
    json.Key("success").Bool(report.EveryViewerSawEverySender());
    json.Key("players").BeginArray();
    for (const PlayerOutcome& player : report.players) {
        json.BeginObject();
        json.Key("id").Number(player.userId);
        json.Key("public_address");
        if (player.ownAddress) {
            json.String(DottedAddress(player.ownAddress->publicAddress));
            json.Key("voice_port").Number(player.ownAddress->audioPublicPort);
            json.Key("video_port").Number(player.ownAddress->videoPublicPort);
        } else {
            json.Null();
        }
        if (const SenderSummary* camera = report.SenderOf(player.userId)) {
            json.Key("frames_captured").Number(static_cast<double>(camera->captured));
            json.Key("frames_unstamped").Number(static_cast<double>(camera->unstamped));
            json.Key("capture_fps").Number(camera->framesPerSecond);
        }
        json.Key("problems").BeginArray();
        for (const std::string& problem : player.problems) json.String(problem);
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("pairs").BeginArray();
    for (const PairSummary& pair : report.pairs) {
        json.BeginObject();
        json.Key("viewer").Number(pair.viewer);
        json.Key("sender").Number(pair.sender);
        json.Key("frames").Number(static_cast<double>(pair.frames));
        json.Key("frames_stamped").Number(static_cast<double>(pair.stamped));
        json.Key("fps").Number(pair.framesPerSecond);
        json.Key("frames_lost").Number(static_cast<double>(pair.lost));
        json.Key("latency_ms_median").Optional(pair.latencyMedianMs);
        json.Key("latency_ms_p99").Optional(pair.latencyP99Ms);
        json.Key("psnr_db_median").Optional(pair.psnrMedianDb);
        json.Key("psnr_db_min").Optional(pair.psnrMinDb);
        json.Key("still_ms_p99").Optional(pair.stillP99Ms);
        json.Key("still_ms_max").Optional(pair.stillMaxMs);
        json.Key("frames_sent_since_first_shown")
            .Optional(pair.sentSinceFirstShown ? std::optional<double>(static_cast<double>(*pair.sentSinceFirstShown))
                                               : std::nullopt);
        json.Key("shown_share").Optional(pair.shownShare);
        json.EndObject();
    }
    json.EndArray();
    json.Key("pictures_checked").Number(static_cast<double>(report.picturesChecked));
    json.Key("pictures_not_checked").Number(static_cast<double>(report.picturesMissed));
    json.Key("failures").BeginArray();
    for (const PairFailure& failure : report.failures) {
        json.BeginObject();
        json.Key("viewer").Number(failure.viewer);
        json.Key("sender").Number(failure.sender);
        json.Key("reason").String(failure.reason);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

}  // namespace room
