// The engine's own figures of every player (EngineFigures): the transport
// table on the terminal and the "transport" member of stats.json.
#pragma once

#include "testbed/room_report.h"
#include "tools/room/json_value.h"

#include <ostream>

namespace room {

void PrintTransportTable(const RoomReport& report, std::ostream& out);
JsonValue TransportJson(const RoomReport& report);

}  // namespace room
