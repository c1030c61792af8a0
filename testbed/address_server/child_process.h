// Children of a room's process: spawned with their standard output in a
// pipe or thrown away, and stopped politely, then for good.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace room {

// Starts `arguments` (the program first); the child's standard output goes
// to `output`, or with -1 both its outputs go nowhere (a server that keeps
// its own log). Returns the pid, or -1 with `error` set.
pid_t SpawnChild(const std::vector<std::string>& arguments, int output, std::string* error);
// SIGTERM, and SIGKILL after `graceMs`; reaps the child either way.
void StopChild(pid_t pid, int graceMs);

}  // namespace room
