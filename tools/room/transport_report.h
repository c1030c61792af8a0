// The engine's own figures of every player (EngineFigures): the transport
// table on the terminal and the "transport" member of stats.json.
#pragma once

#include "testbed/room_report.h"
#include "tools/room/json_value.h"

#include <ostream>

namespace room {

void PrintTransportTable(const RoomReport& report, std::ostream& out);
// Per pair of an encrypted room: whether the sender's media came encrypted
// and what did not open; nothing in a plain room.
void PrintEncryptionTable(const RoomReport& report, std::ostream& out);
JsonValue TransportJson(const RoomReport& report);

}  // namespace room
