#include "tools/room/report.h"

#include "testbed/lobby.h"
#include "tools/room/hop_report.h"
#include "tools/room/json_value.h"
#include "tools/room/relay_report.h"
#include "tools/room/transport_report.h"
#include "tools/room/voice_report.h"

#include <cstdio>

namespace room {
namespace {
std::string Figure(std::optional<double> value, const char* format) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

// A session's relay as the engine told it at the end.
JsonValue RelaySessionJson(const TavolinRelayStatistics& figures) {
    return JsonValue::Object{
        {"relayed", figures.relayed != 0},
        {"failed", figures.failed != 0},
        {"server", DottedAddress(figures.serverAddress) + ":" + std::to_string(figures.serverPort)},
        {"allocation_ms", figures.allocationMs},
        {"refreshes", figures.refreshes},
        {"unauthorized", figures.unauthorized},
        {"mismatches", figures.mismatches},
        {"stale_nonces", figures.staleNonces},
        {"failovers", figures.failovers},
        {"datagrams_out", figures.datagramsOut},
        {"datagrams_in", figures.datagramsIn}};
}
}  // namespace

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
        const std::string shown = pair.shownShare ? Figure(*pair.shownShare * 100, "%.0f%%") + " of " +
                                                        std::to_string(*pair.sentSinceFirstShown)
                                                  : "-";
        std::snprintf(line, sizeof line, "%6d  %6d  %6llu  %5.1f  %4llu  %8s / %-8s  %7s / %-6s  %7s / %-7s  %s\n",
                      pair.viewer, pair.sender, static_cast<unsigned long long>(pair.frames), pair.framesPerSecond,
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

std::string StatsJson(const RoomReport& report, const RunFigures& run) {
    JsonValue players = JsonValue::Array{};
    for (const PlayerOutcome& player : report.players) {
        JsonValue entry = JsonValue::Object{{"id", player.userId}};
        if (player.ownAddress) {
            entry.Add("public_address", DottedAddress(player.ownAddress->publicAddress))
                .Add("voice_port", player.ownAddress->audioPublicPort)
                .Add("video_port", player.ownAddress->videoPublicPort);
        } else {
            entry.Add("public_address", JsonValue());
        }
        if (const SenderSummary* camera = report.SenderOf(player.userId)) {
            entry.Add("frames_captured", camera->captured)
                .Add("frames_unstamped", camera->unstamped)
                .Add("capture_fps", camera->framesPerSecond);
        }
        entry.Add("path", player.relayed ? "relayed" : "direct");
        if (player.relayFigures[TAVOLIN_MEDIUM_VOICE] || player.relayFigures[TAVOLIN_MEDIUM_VIDEO]) {
            JsonValue sessions = JsonValue::Object{};
            for (const int medium : {TAVOLIN_MEDIUM_VOICE, TAVOLIN_MEDIUM_VIDEO})
                if (const auto& figures = player.relayFigures[medium])
                    sessions.Add(medium == TAVOLIN_MEDIUM_VIDEO ? "video" : "voice", RelaySessionJson(*figures));
            entry.Add("relay_sessions", std::move(sessions));
        }
        JsonValue problems = JsonValue::Array{};
        for (const std::string& problem : player.problems) problems.Push(problem);
        players.Push(std::move(entry.Add("problems", std::move(problems))));
    }
    JsonValue pairs = JsonValue::Array{};
    for (const PairSummary& pair : report.pairs) {
        const std::optional<double> sentSinceFirstShown =
            pair.sentSinceFirstShown ? std::optional<double>(static_cast<double>(*pair.sentSinceFirstShown))
                                     : std::nullopt;
        pairs.Push(JsonValue::Object{{"viewer", pair.viewer},
                                     {"sender", pair.sender},
                                     {"frames", pair.frames},
                                     {"frames_stamped", pair.stamped},
                                     {"fps", pair.framesPerSecond},
                                     {"frames_lost", pair.lost},
                                     {"latency_ms_median", pair.latencyMedianMs},
                                     {"latency_ms_p99", pair.latencyP99Ms},
                                     {"psnr_db_median", pair.psnrMedianDb},
                                     {"psnr_db_min", pair.psnrMinDb},
                                     {"still_ms_p99", pair.stillP99Ms},
                                     {"still_ms_max", pair.stillMaxMs},
                                     {"frames_sent_since_first_shown", sentSinceFirstShown},
                                     {"shown_share", pair.shownShare}});
    }
    JsonValue failures = JsonValue::Array{};
    for (const PairFailure& failure : report.failures)
        failures.Push(JsonValue::Object{
            {"viewer", failure.viewer}, {"sender", failure.sender}, {"reason", failure.reason}});

    JsonValue stats = JsonValue::Object{{"players_in_room", report.playersInRoom},
                                        {"success", report.EveryViewerSawEverySender()},
                                        {"players", std::move(players)},
                                        {"pairs", std::move(pairs)},
                                        {"pictures_checked", report.picturesChecked},
                                        {"pictures_not_checked", report.picturesMissed},
                                        {"failures", std::move(failures)}};
    if (run.voice) stats.Add("voice", VoiceJson(*run.voice));
    stats.Add("transport", TransportJson(report));
    if (run.monotonicSeconds)
        stats.Add("run_monotonic_s",
                  JsonValue::Object{{"start", run.monotonicSeconds->first}, {"end", run.monotonicSeconds->second}});
    if (run.trace) stats.Add("trace", HopTraceJson(*run.trace));
    if (run.relay) stats.Add("relay", RelayJson(*run.relay));
    return stats.Text();
}

}  // namespace room
