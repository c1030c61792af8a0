// Children of a test's or a room's process (servers, sound tools): spawned
// through the PATH with standard input from /dev/null, stopped politely,
// then for good.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testkit {

// Where a child's errors go when its output goes to a descriptor.
enum class ChildErrors { kInherited, kWithOutput };

// Starts `arguments` (the program first); the child's standard output goes
// to `output` (its errors too with kWithOutput), or with -1 both its outputs
// go nowhere (a server that keeps its own log). Returns the pid, or -1 with
// `error` set.
pid_t SpawnChild(const std::vector<std::string>& arguments, int output, ChildErrors errors, std::string* error);
// SIGTERM, and SIGKILL after `graceMs`; reaps the child either way.
void StopChild(pid_t pid, int graceMs);

}  // namespace testkit
