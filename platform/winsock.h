// The Winsock service the engine relies on, on Linux.
#pragma once

#include <netinet/in.h>

// What Winsock resolves the machine's own host name to: an IPv4 address of
// its interfaces, the first one that is up and not loopback, else loopback.
// Read from the interfaces and never asked of a name server, so it answers at
// once where the host name only resolves through an unreachable one (a
// resolver time-out would hold the engine thread for seconds). False when the
// machine has no IPv4 address up.
bool GetOwnHostAddress(in_addr* address);
