// Ctrl-C and SIGTERM end the room early instead of killing the process, so
// that it still stops its engines and address server and writes its files.
#pragma once

namespace room {

// From now on SIGINT and SIGTERM only set the flag StopRequested reads.
void CatchStopSignals();
bool StopRequested();

}  // namespace room
