// tavolin-room from options to exit status: the address server, the room,
// a status line per second, the report and the files of the out directory.
#pragma once

#include "tools/room/room_options.h"

#include <ostream>

namespace room {

// 0 when every viewer decoded video from every other player; 1 otherwise.
int RunRoomDemo(const RoomOptions& options, std::ostream& out, std::ostream& errors);

}  // namespace room
