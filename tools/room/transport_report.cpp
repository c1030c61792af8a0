#include "tools/room/transport_report.h"

#include <cstdio>

namespace room {
namespace {
// RTCP figures are negative until the first report came.
std::string Known(double value, const char* format) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::optional<double> KnownValue(double value) { return value < 0 ? std::nullopt : std::optional<double>(value); }

// What the uplink's budget told the host, in order (TAVOLIN_EVENT_* kinds).
JsonValue UplinkEventsJson(const std::vector<EngineEvent>& events) {
    JsonValue kinds = JsonValue::Array{};
    for (const EngineEvent& event : events)
        if (event.kind == TAVOLIN_EVENT_VIDEO_HELD || event.kind == TAVOLIN_EVENT_VIDEO_RESUMED ||
            event.kind == TAVOLIN_EVENT_VOICE_DOES_NOT_FIT || event.kind == TAVOLIN_EVENT_VIDEO_REDUCED)
            kinds.Push(event.kind);
    return kinds;
}

}  // namespace

void PrintTransportTable(const RoomReport& report, std::ostream& out) {
    char line[256];
    out << "\nplayer  coded  key frames: coder/regular/asked\n";
    for (const PlayerOutcome& player : report.players) {
        if (!player.engineFigures.local) continue;
        const TavolinLocalStatistics& local = *player.engineFigures.local;
        std::snprintf(line, sizeof line, "%6d  %5llu  %llu/%llu/%llu\n", player.userId,
                      static_cast<unsigned long long>(local.framesCoded),
                      static_cast<unsigned long long>(local.keyFramesByCoder),
                      static_cast<unsigned long long>(local.keyFramesRegular),
                      static_cast<unsigned long long>(local.keyFramesAsked));
        out << line;
    }
    out << "\nviewer  sender  received  shown  dropped  freezes  lost  jitter ms  rtt ms  nack s/r  pli s/r  "
           "resent  recovered\n";
    for (const PlayerOutcome& player : report.players) {
        for (const auto& [sender, peer] : player.engineFigures.peers) {
            std::snprintf(
                line, sizeof line,
                "%6d  %6d  %8llu  %5llu  %7llu  %7llu  %4lld  %9s  %6s  %4llu/%-4llu %3llu/%-3llu  %6llu  %9llu\n",
                player.userId, sender, static_cast<unsigned long long>(peer.framesReceived),
                static_cast<unsigned long long>(peer.framesShown), static_cast<unsigned long long>(peer.framesDropped),
                static_cast<unsigned long long>(peer.freezes), static_cast<long long>(peer.cumulativeLost),
                Known(peer.jitterMs, "%.1f").c_str(), Known(peer.roundTripMs, "%.1f").c_str(),
                static_cast<unsigned long long>(peer.nacksSent), static_cast<unsigned long long>(peer.nacksReceived),
                static_cast<unsigned long long>(peer.pictureLossSent),
                static_cast<unsigned long long>(peer.pictureLossReceived),
                static_cast<unsigned long long>(peer.packetsResent),
                static_cast<unsigned long long>(peer.packetsRecovered));
            out << line;
        }
    }
}

void PrintEncryptionTable(const RoomReport& report, std::ostream& out) {
    bool anyEncrypted = false;
    for (const PlayerOutcome& player : report.players)
        for (const auto& [sender, peer] : player.engineFigures.peers) anyEncrypted |= peer.encrypted != 0;
    if (!anyEncrypted) return;
    char line[160];
    out << "\nviewer  sender  encrypted  opened  failed auth  replays  unknown epoch\n";
    for (const PlayerOutcome& player : report.players) {
        for (const auto& [sender, peer] : player.engineFigures.peers) {
            std::snprintf(line, sizeof line, "%6d  %6d  %9s  %6llu  %11llu  %7llu  %13llu\n", player.userId, sender,
                          peer.encrypted ? "yes" : "no", static_cast<unsigned long long>(peer.packetsAuthenticated),
                          static_cast<unsigned long long>(peer.authenticationFailures),
                          static_cast<unsigned long long>(peer.replaysDropped),
                          static_cast<unsigned long long>(peer.unknownEpochDropped));
            out << line;
        }
    }
}

JsonValue TransportJson(const RoomReport& report) {
    JsonValue players = JsonValue::Array{};
    for (const PlayerOutcome& player : report.players) {
        JsonValue entry = JsonValue::Object{{"id", player.userId}};
        if (const auto& local = player.engineFigures.local) {
            entry.Add("frames_captured", local->framesCaptured)
                .Add("frames_coded", local->framesCoded)
                .Add("key_frames", local->keyFrames)
                .Add("key_frames_by_coder", local->keyFramesByCoder)
                .Add("key_frames_regular", local->keyFramesRegular)
                .Add("key_frames_asked", local->keyFramesAsked)
                .Add("video_ssrc", local->videoSsrc)
                .Add("voice_ssrc", local->voiceSsrc)
                .Add("video_coding_cpu_s", local->videoCodingCpuSeconds)
                .Add("uplink_budget_kbps", local->uplinkBudgetKbitsPerSecond)
                .Add("loss_based_kbps", local->lossBasedKbitsPerSecond)
                .Add("delay_based_kbps", local->delayBasedKbitsPerSecond)
                .Add("video_target_kbps", local->videoTargetKbitsPerSecond)
                .Add("video_fps_target", local->videoFramesPerSecondTarget)
                .Add("video_ladder_step", local->videoLadderStep)
                .Add("video_quantiser", local->videoQuantiser)
                .Add("voice_does_not_fit", local->voiceDoesNotFit != 0)
                .Add("video_held_peers", local->videoHeldPeers);
        }
        entry.Add("uplink_events", UplinkEventsJson(player.events));
        JsonValue peers = JsonValue::Array{};
        for (const auto& [sender, peer] : player.engineFigures.peers) {
            peers.Push(JsonValue::Object{{"sender", sender},
                                         {"frames_received", peer.framesReceived},
                                         {"frames_shown", peer.framesShown},
                                         {"frames_dropped", peer.framesDropped},
                                         {"freezes", peer.freezes},
                                         {"frozen_seconds", peer.frozenSeconds},
                                         {"longest_freeze_seconds", peer.longestFreezeSeconds},
                                         {"video_packets_received", peer.videoPacketsReceived},
                                         {"voice_packets_received", peer.voicePacketsReceived},
                                         {"fraction_lost", KnownValue(peer.fractionLost)},
                                         {"cumulative_lost", peer.cumulativeLost},
                                         {"jitter_ms", KnownValue(peer.jitterMs)},
                                         {"remote_fraction_lost", KnownValue(peer.remoteFractionLost)},
                                         {"remote_cumulative_lost", peer.remoteCumulativeLost},
                                         {"remote_jitter_ms", KnownValue(peer.remoteJitterMs)},
                                         {"round_trip_ms", KnownValue(peer.roundTripMs)},
                                         {"nacks_sent", peer.nacksSent},
                                         {"nacks_received", peer.nacksReceived},
                                         {"picture_loss_sent", peer.pictureLossSent},
                                         {"picture_loss_received", peer.pictureLossReceived},
                                         {"packets_resent", peer.packetsResent},
                                         {"resends_refused", peer.resendsRefused},
                                         {"packets_recovered", peer.packetsRecovered},
                                         {"video_decoding_cpu_s", peer.videoDecodingCpuSeconds},
                                         {"encrypted", peer.encrypted != 0},
                                         {"packets_authenticated", peer.packetsAuthenticated},
                                         {"authentication_failures", peer.authenticationFailures},
                                         {"replays_dropped", peer.replaysDropped},
                                         {"unknown_epoch_dropped", peer.unknownEpochDropped},
                                         {"our_video_held", peer.videoHeld},
                                         {"their_estimate_kbps", peer.estimateKbitsPerSecond}});
        }
        players.Push(std::move(entry.Add("peers", std::move(peers))));
    }
    return players;
}

}  // namespace room
