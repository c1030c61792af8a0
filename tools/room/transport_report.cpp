#include "tools/room/transport_report.h"

#include "tools/room/json_writer.h"

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

double Count(uint64_t value) { return static_cast<double>(value); }
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
            std::snprintf(line, sizeof line, "%6d  %6d  %8llu  %5llu  %7llu  %7llu  %4lld  %9s  %6s  %4llu/%-4llu %3llu/%-3llu  %6llu  %9llu\n",
                          player.userId, sender, static_cast<unsigned long long>(peer.framesReceived),
                          static_cast<unsigned long long>(peer.framesShown),
                          static_cast<unsigned long long>(peer.framesDropped),
                          static_cast<unsigned long long>(peer.freezes), static_cast<long long>(peer.cumulativeLost),
                          Known(peer.jitterMs, "%.1f").c_str(), Known(peer.roundTripMs, "%.1f").c_str(),
                          static_cast<unsigned long long>(peer.nacksSent),
                          static_cast<unsigned long long>(peer.nacksReceived),
                          static_cast<unsigned long long>(peer.pictureLossSent),
                          static_cast<unsigned long long>(peer.pictureLossReceived),
                          static_cast<unsigned long long>(peer.packetsResent),
                          static_cast<unsigned long long>(peer.packetsRecovered));
            out << line;
        }
    }
}

std::string TransportJson(const RoomReport& report) {
    JsonWriter json;
    json.BeginArray();
    for (const PlayerOutcome& player : report.players) {
        json.BeginObject();
        json.Key("id").Number(player.userId);
        if (const auto& local = player.engineFigures.local) {
            json.Key("frames_captured").Number(Count(local->framesCaptured));
            json.Key("frames_coded").Number(Count(local->framesCoded));
            json.Key("key_frames").Number(Count(local->keyFrames));
            json.Key("key_frames_by_coder").Number(Count(local->keyFramesByCoder));
            json.Key("key_frames_regular").Number(Count(local->keyFramesRegular));
            json.Key("key_frames_asked").Number(Count(local->keyFramesAsked));
            json.Key("video_ssrc").Number(local->videoSsrc);
            json.Key("voice_ssrc").Number(local->voiceSsrc);
            json.Key("video_coding_cpu_s").Number(local->videoCodingCpuSeconds);
        }
        json.Key("peers").BeginArray();
        for (const auto& [sender, peer] : player.engineFigures.peers) {
            json.BeginObject();
            json.Key("sender").Number(sender);
            json.Key("frames_received").Number(Count(peer.framesReceived));
            json.Key("frames_shown").Number(Count(peer.framesShown));
            json.Key("frames_dropped").Number(Count(peer.framesDropped));
            json.Key("freezes").Number(Count(peer.freezes));
            json.Key("frozen_seconds").Number(peer.frozenSeconds);
            json.Key("longest_freeze_seconds").Number(peer.longestFreezeSeconds);
            json.Key("video_packets_received").Number(Count(peer.videoPacketsReceived));
            json.Key("voice_packets_received").Number(Count(peer.voicePacketsReceived));
            json.Key("fraction_lost").Optional(KnownValue(peer.fractionLost));
            json.Key("cumulative_lost").Number(static_cast<double>(peer.cumulativeLost));
            json.Key("jitter_ms").Optional(KnownValue(peer.jitterMs));
            json.Key("remote_fraction_lost").Optional(KnownValue(peer.remoteFractionLost));
            json.Key("remote_cumulative_lost").Number(static_cast<double>(peer.remoteCumulativeLost));
            json.Key("remote_jitter_ms").Optional(KnownValue(peer.remoteJitterMs));
            json.Key("round_trip_ms").Optional(KnownValue(peer.roundTripMs));
            json.Key("nacks_sent").Number(Count(peer.nacksSent));
            json.Key("nacks_received").Number(Count(peer.nacksReceived));
            json.Key("picture_loss_sent").Number(Count(peer.pictureLossSent));
            json.Key("picture_loss_received").Number(Count(peer.pictureLossReceived));
            json.Key("packets_resent").Number(Count(peer.packetsResent));
            json.Key("resends_refused").Number(Count(peer.resendsRefused));
            json.Key("packets_recovered").Number(Count(peer.packetsRecovered));
            json.Key("video_decoding_cpu_s").Number(peer.videoDecodingCpuSeconds);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    return json.Text();
}

}  // namespace room
