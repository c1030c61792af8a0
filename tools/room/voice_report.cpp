#include "tools/room/voice_report.h"

#include <cstdio>

namespace room {

void PrintVoiceReport(const VoiceReport& report, std::ostream& out) {
    out << "\nvoice, listener <- speaker: frames received, lost, concealed, late, skipped;\n"
           "jitter buffer delay at the end; mouth-to-ear median, p99; tone SNR; the speaker's\n"
           "frames sent, their share of what its microphone gave and its talking time; its level\n"
           "as heard, the levelling's gain and the volume\n";
    char line[240];
    for (const VoicePair& p : report.pairs) {
        const char* verdict =
            p.AsExpected() ? (p.muted ? "   muted" : "") : (p.muted ? "   HEARD THOUGH MUTED" : "   NOT HEARD");
        std::snprintf(line, sizeof line,
                      "  %2d <- %2d  %6llu %5llu %5llu %5llu %5llu  %4d ms  %6.1f ms %6.1f ms   %5.1f dB"
                      "  %6lld %5.1f %% %6.1f s  %6.1f dBFS %+5.1f dB %3d %%%s\n",
                      p.listener, p.speaker, static_cast<unsigned long long>(p.received),
                      static_cast<unsigned long long>(p.lost), static_cast<unsigned long long>(p.concealed),
                      static_cast<unsigned long long>(p.late), static_cast<unsigned long long>(p.skipped),
                      p.jitterDelayMs, p.latencyMedianMs.value_or(-1), p.latencyP99Ms.value_or(-1), p.toneSnrDb,
                      static_cast<long long>(p.speakerFramesSent), p.SharePercentSent(), p.TalkingSeconds(),
                      p.levelDbfs, p.levellingGainDb, p.volumePercent, verdict);
        out << line;
    }
    for (const VoicePair& p : report.pairs) {
        if (p.AsExpected()) continue;
        out << "player " << p.listener << (p.muted ? " hears player " : " does not hear player ") << p.speaker
            << (p.muted ? ", muted\n" : "\n");
    }
}

JsonValue VoiceJson(const VoiceReport& report) {
    JsonValue pairs = JsonValue::Array{};
    for (const VoicePair& p : report.pairs) {
        pairs.Push(JsonValue::Object{{"listener", p.listener},
                                     {"speaker", p.speaker},
                                     {"frames_received", p.received},
                                     {"frames_lost", p.lost},
                                     {"frames_concealed", p.concealed},
                                     {"frames_late", p.late},
                                     {"frames_skipped", p.skipped},
                                     {"jitter_delay_ms", p.jitterDelayMs},
                                     {"latency_median_ms", p.latencyMedianMs},
                                     {"latency_p95_ms", p.latencyP95Ms},
                                     {"latency_p99_ms", p.latencyP99Ms},
                                     {"latency_p95_settled_ms", p.settledLatencyP95Ms},
                                     {"tone_snr_db", p.toneSnrDb},
                                     {"level_dbfs", p.levelDbfs},
                                     {"talk_windows", p.talkWindows},
                                     {"heard", p.heard},
                                     {"muted", p.muted},
                                     {"volume_percent", p.volumePercent},
                                     {"levelling_gain_db", p.levellingGainDb},
                                     {"speaker_frames_sent", p.speakerFramesSent},
                                     {"speaker_share_sent_percent", p.SharePercentSent()},
                                     {"speaker_talking_seconds", p.TalkingSeconds()}});
    }
    return JsonValue::Object{{"pairs", std::move(pairs)}};
}

}  // namespace room
