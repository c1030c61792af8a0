// The command line of tavolin-room.
#pragma once

#include "testbed/network/impairment.h"
#include "testbed/voice_settings.h"
#include "tools/common/companions.h"

#include <tavolin/tavolin.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace room {

// A relay server, as `--relay [tcp:|udp:]ADDR:PORT` names it.
struct RelayServerOption {
    uint32_t address = 0;  // host order
    uint16_t port = 0;
    int transport = TAVOLIN_RELAY_UDP;
};

// The relay servers for every player of this process, and when to use them.
struct RelayOptions {
    std::vector<RelayServerOption> servers;  // in order: the next when one fails
    std::string user;
    std::string password;
    int policy = TAVOLIN_RELAY_NEVER;
    // A room in one process given a policy and no server starts its own.
    bool OwnServer() const { return servers.empty() && policy != TAVOLIN_RELAY_NEVER; }
};

struct RoomOptions {
    int players = 3;
    double seconds = 10;
    std::string outDirectory = "room-out";
    std::string camera;  // a real camera for player 1 (for this player when joining)
    std::string library = tools::DefaultLibraryPath();
    std::string addressServer = tools::DefaultAddrdPath();
    // A room spread over processes: this process runs player `id` only,
    // meets the others in `joinDirectory` and uses the address server at `server`.
    std::string joinDirectory;
    int id = 0;
    std::string server;  // ADDR:PORT
    std::string localAddress = "127.0.0.1";
    // A room in one process may run through an impairment relay.
    ImpairmentSettings impairment;
    RelayOptions relay;
    // An encrypted room: in one process with a random secret; joining, with
    // the secret and epoch every player was handed.
    bool encrypt = false;
    std::string roomSecretHex;
    uint32_t epoch = 1;
    // Every player's engine adapts its video to its uplink.
    bool adaptUplink = false;
    // Per-hop time stamps of every video frame from the engine.
    bool trace = false;
    // Transmit mode, push-to-talk script, and every listener's volume and mute choices.
    VoiceSettings voice;

    bool Joining() const { return !joinDirectory.empty(); }
};

// Reads the command line into `options`. Returns the exit status when the
// tool is to stop now: after --help or --version (0), or a bad command line
// (2, said on standard error).
std::optional<int> ReadRoomOptions(int argc, char** argv, RoomOptions* options);

// "ADDR:PORT" as a host-order address and a port.
bool ParseEndpoint(const std::string& text, uint32_t* address, uint16_t* port);
// "[tcp:|udp:]ADDR:PORT" (UDP without a prefix).
bool ParseRelayEndpoint(const std::string& text, RelayServerOption* endpoint);

}  // namespace room
