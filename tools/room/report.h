// How the figures of a room run are shown: a table on the terminal and
// stats.json.
#pragma once

#include "testbed/room_report.h"

#include <ostream>
#include <string>

namespace room {

void PrintReport(const RoomReport& report, std::ostream& out);
std::string StatsJson(const RoomReport& report);

}  // namespace room
