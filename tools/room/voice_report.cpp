#include "tools/room/voice_report.h"

#include <cstdio>

namespace room {

void PrintVoiceReport(const VoiceReport& report, std::ostream& out) {
    out << "\nvoice, listener <- speaker: frames received, lost, concealed, late, skipped;\n"
           "jitter buffer delay at the end; mouth-to-ear median, p99; tone SNR\n";
    char line[200];
    for (const VoicePair& p : report.pairs) {
        std::snprintf(line, sizeof line,
                      "  %2d <- %2d  %6llu %5llu %5llu %5llu %5llu  %4d ms  %6.1f ms %6.1f ms   %5.1f dB%s\n",
                      p.listener, p.speaker, static_cast<unsigned long long>(p.received),
                      static_cast<unsigned long long>(p.lost), static_cast<unsigned long long>(p.concealed),
                      static_cast<unsigned long long>(p.late), static_cast<unsigned long long>(p.skipped),
                      p.jitterDelayMs, p.latencyMedianMs.value_or(-1), p.latencyP99Ms.value_or(-1), p.toneSnrDb,
                      p.heard ? "" : "   NOT HEARD");
        out << line;
    }
    for (const VoicePair& p : report.pairs)
        if (!p.heard) out << "player " << p.listener << " does not hear player " << p.speaker << '\n';
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
                                     {"latency_p99_ms", p.latencyP99Ms},
                                     {"tone_snr_db", p.toneSnrDb},
                                     {"heard", p.heard}});
    }
    return JsonValue::Object{{"pairs", std::move(pairs)}};
}

}  // namespace room
