#include "tools/room/report.h"

#include "testbed/lobby.h"
#include "tools/room/json_writer.h"

#include <cstdio>

namespace room {
namespace {
std::string Figure(std::optional<double> value, const char* format) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}
}  // namespace

void PrintReport(const RoomReport& report, std::ostream& out) {
    char line[256];
    out << "\nplayer  public address     voice port  video port  captured   fps\n";
    for (const PlayerOutcome& player : report.players) {
        const SenderSummary* camera = report.SenderOf(player.userId);
        const std::string address = player.ownAddress ? DottedAddress(player.ownAddress->publicAddress) : "-";
        std::snprintf(line, sizeof line, "%6d  %-15s  %10s  %10s  %8llu  %5.1f\n", player.userId, address.c_str(),
                      player.ownAddress ? std::to_string(player.ownAddress->audioPublicPort).c_str() : "-",
                      player.ownAddress ? std::to_string(player.ownAddress->videoPublicPort).c_str() : "-",
                      static_cast<unsigned long long>(camera ? camera->captured : 0),
                      camera ? camera->framesPerSecond : 0.0);
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
