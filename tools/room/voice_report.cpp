#include "tools/room/voice_report.h"

#include "tools/room/json_writer.h"

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

std::string VoiceJson(const VoiceReport& report) {
    JsonWriter json;
    json.BeginObject().Key("pairs").BeginArray();
    for (const VoicePair& p : report.pairs) {
        json.BeginObject()
            .Key("listener").Number(p.listener)
            .Key("speaker").Number(p.speaker)
            .Key("frames_received").Number(static_cast<double>(p.received))
            .Key("frames_lost").Number(static_cast<double>(p.lost))
            .Key("frames_concealed").Number(static_cast<double>(p.concealed))
            .Key("frames_late").Number(static_cast<double>(p.late))
            .Key("frames_skipped").Number(static_cast<double>(p.skipped))
            .Key("jitter_delay_ms").Number(p.jitterDelayMs)
            .Key("latency_median_ms").Optional(p.latencyMedianMs)
            .Key("latency_p99_ms").Optional(p.latencyP99Ms)
            .Key("tone_snr_db").Number(p.toneSnrDb)
            .Key("heard").Bool(p.heard)
            .EndObject();
    }
    json.EndArray().EndObject();
    return json.Text();
}

std::string WithMember(const std::string& objectJson, const std::string& name, const std::string& valueJson) {
    const size_t end = objectJson.rfind('}');
    if (end == std::string::npos) return objectJson;
    const bool empty = objectJson.find_first_not_of(" \n\t{", 0) == end;
    return objectJson.substr(0, end) + (empty ? "" : ",") + "\"" + name + "\":" + valueJson + objectJson.substr(end);
}

}  // namespace room
