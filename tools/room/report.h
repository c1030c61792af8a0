// How the figures of a room run are shown: a table on the terminal and
// stats.json.
#pragma once

#include "testbed/measurement/hop_table.h"
#include "testbed/measurement/voice_analysis.h"
#include "testbed/network/impairment_relay.h"
#include "testbed/room_report.h"

#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace room {

// What stats.json holds of a run beside the room's report; what the run did
// not have is left out.
struct RunFigures {
    const VoiceReport* voice = nullptr;
    // The timed run's start and end on the monotonic clock (CLOCK_MONOTONIC),
    // in seconds, for tools that sample the process, such as bench/room_cpu.sh.
    std::optional<std::pair<double, double>> monotonicSeconds;
    const HopTable* trace = nullptr;
    const ImpairmentRelay* relay = nullptr;
};

void PrintReport(const RoomReport& report, std::ostream& out);
// The text of stats.json: one document, built whole.
std::string StatsJson(const RoomReport& report, const RunFigures& run = {});

}  // namespace room
