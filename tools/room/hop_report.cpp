#include "tools/room/hop_report.h"

#include <cstdio>
#include <fstream>

namespace room {

void PrintHopTable(const HopTable& table, std::ostream& out) {
    char line[160];
    std::snprintf(line, sizeof line, "\nhop trace: %llu remote pictures drawn, %llu traced from capture on%s\n",
                  static_cast<unsigned long long>(table.framesDrawn),
                  static_cast<unsigned long long>(table.framesTraced),
                  table.recordsDropped ? " (some records did not fit)" : "");
    out << line;
    out << "hop                                          median ms     p99 ms  slowest 1 % (mean ms)\n";
    for (const HopStep& step : table.steps) {
        const auto figure = [](std::optional<double> value) {
            char text[32] = "-";
            if (value) std::snprintf(text, sizeof text, "%.3f", *value);
            return std::string(text);
        };
        std::snprintf(line, sizeof line, "%-44s %9s  %9s  %9s\n", step.name.c_str(), figure(step.medianMs).c_str(),
                      figure(step.p99Ms).c_str(), figure(step.slowestMeanMs).c_str());
        out << line;
    }
    out << "captured -> DrawFrame called, by second of capture:";
    for (const SecondOfRun& second : table.seconds) {
        std::snprintf(line, sizeof line, "%s%3d s: %5zu frames, median %7.1f ms, p99 %7.1f ms", "\n  ", second.second,
                      second.frames, second.medianMs, second.p99Ms);
        out << line;
    }
    out << '\n';
}

bool WriteHopRecords(const std::vector<TavolinHopRecord>& records, const std::string& path) {
    constexpr const char* kHopNames[kTavolinHopCount] = {"captured", "taken",   "coded",     "sent",    "received",
                                                         "queued",   "drained", "assembled", "decoded", "drawn"};
    std::ofstream out(path);
    out << "hop,receiver,sender,timestamp,nanoseconds\n";
    for (const TavolinHopRecord& record : records)
        if (record.hop < kTavolinHopCount)
            out << kHopNames[record.hop] << ',' << record.receiver << ',' << record.sender << ',' << record.timestamp
                << ',' << record.nanoseconds << '\n';
    return static_cast<bool>(out);
}

JsonValue HopTraceJson(const HopTable& table) {
    JsonValue hops = JsonValue::Array{};
    for (const HopStep& step : table.steps) {
        hops.Push(JsonValue::Object{{"hop", step.name},
                                    {"ms_median", step.medianMs},
                                    {"ms_p99", step.p99Ms},
                                    {"ms_mean_of_slowest_1_percent", step.slowestMeanMs}});
    }
    JsonValue seconds = JsonValue::Array{};
    for (const SecondOfRun& second : table.seconds) {
        seconds.Push(JsonValue::Object{{"second", second.second},
                                       {"frames", second.frames},
                                       {"ms_median", second.medianMs},
                                       {"ms_p99", second.p99Ms}});
    }
    return JsonValue::Object{{"frames_drawn", table.framesDrawn},
                             {"frames_traced", table.framesTraced},
                             {"records_dropped", table.recordsDropped},
                             {"hops", std::move(hops)},
                             {"by_second_of_capture", std::move(seconds)}};
}

std::string HopTableJson(const HopTable& table) { return HopTraceJson(table).Text(); }

}  // namespace room
