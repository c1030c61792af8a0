// tavolin-room --trace: the hop table on the terminal, in stats.json
// ("trace") and every stamp in hops.csv.
#pragma once

#include "testbed/measurement/hop_table.h"
#include "tools/room/json_value.h"

#include <ostream>
#include <string>
#include <vector>

namespace room {

void PrintHopTable(const HopTable& table, std::ostream& out);
// Every record as a line "hop,receiver,sender,timestamp,nanoseconds" under a
// header line, hops by name, for a look at single frames; false when it
// cannot be written.
bool WriteHopRecords(const std::vector<TavolinHopRecord>& records, const std::string& path);
// The "trace" member of stats.json, and its text alone.
JsonValue HopTraceJson(const HopTable& table);
std::string HopTableJson(const HopTable& table);

}  // namespace room
