// The command line of tavolin-room.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace room {

struct RoomOptions {
    int players = 3;
    double seconds = 10;
    std::string outDirectory = "room-out";
    std::string camera;  // a real camera for player 1 (for this player when joining)
    std::string library = TAVOLIN_DEFAULT_LIBRARY;
    std::string addressServer = TAVOLIN_DEFAULT_ADDRD;
    // A room spread over processes: this process runs player `id` only,
    // meets the others in `joinDirectory` and uses the address server at `server`.
    std::string joinDirectory;
    int id = 0;
    std::string server;  // ADDR:PORT
    std::string localAddress = "127.0.0.1";
    bool help = false;

    bool Joining() const { return !joinDirectory.empty(); }
};

// The options, or nothing with `error` saying what is wrong.
std::optional<RoomOptions> ParseRoomOptions(int argc, const char* const* argv, std::string* error);
std::string RoomUsage(const std::string& program);

// "ADDR:PORT" as a host-order address and a port.
bool ParseEndpoint(const std::string& text, uint32_t* address, uint16_t* port);

}  // namespace room
