#include "tools/room/room_options.h"

#include "tools/room/lobby.h"
#include "tools/room/room_constants.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace room {
namespace {
template <typename Number>
bool ParseNumber(std::string_view text, Number* value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, *value);
    return error == std::errc() && stop == end;
}
}  // namespace

bool ParseEndpoint(const std::string& text, uint32_t* address, uint16_t* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    const auto parsed = ParseDottedAddress(text.substr(0, colon));
    unsigned portValue = 0;
    if (!parsed || !ParseNumber(std::string_view(text).substr(colon + 1), &portValue) || portValue == 0 ||
        portValue > 65535)
        return false;
    *address = *parsed;
    *port = static_cast<uint16_t>(portValue);
    return true;
}

std::string RoomUsage(const std::string& program) {
    return "usage: " + program +
           " [--players N] [--seconds S] [--out DIR] [--camera NAME] [--library PATH] [--addrd PATH]\n"
           "       " + program +
           " --join DIR --id K --server ADDR:PORT [--local-address ADDR] [--players N] [--seconds S] [--out DIR]\n"
           "\n"
           "Runs a video chat room of N players (2..16, default 3) for S seconds (default 10):\n"
           "an address server on loopback, N engines on threads of their own, each with a\n"
           "moving synthetic camera (player 1 uses camera NAME when given). Prints a status\n"
           "line per second and a table per viewer and sender, and writes DIR/stats.json,\n"
           "DIR/mosaic.png and DIR/log.txt (DIR defaults to room-out). Exits 0 only when\n"
           "every viewer decoded video from every other player.\n"
           "\n"
           "With --join the process runs player K of N only; the players meet through files\n"
           "in the shared directory DIR (empty at the start) and use the address server at\n"
           "ADDR:PORT. ADDR of --local-address (default 127.0.0.1) is what the others are\n"
           "told as this player's local address.\n";
}

std::optional<RoomOptions> ParseRoomOptions(int argc, const char* const* argv, std::string* error) {
    RoomOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            return options;
        }
        if (i + 1 >= argc) {
            *error = "missing value after " + std::string(name);
            return std::nullopt;
        }
        const std::string value = argv[++i];
        bool valid = true;
        if (name == "--players")
            valid = ParseNumber(value, &options.players) && options.players >= kMinPlayers &&
                    options.players <= kMaxPlayers;
        else if (name == "--seconds")
            valid = ParseNumber(value, &options.seconds) && std::isfinite(options.seconds) && options.seconds > 0;
        else if (name == "--out")
            options.outDirectory = value;
        else if (name == "--camera")
            options.camera = value;
        else if (name == "--library")
            options.library = value;
        else if (name == "--addrd")
            options.addressServer = value;
        else if (name == "--join")
            options.joinDirectory = value;
        else if (name == "--id")
            valid = ParseNumber(value, &options.id);
        else if (name == "--server")
            options.server = value;
        else if (name == "--local-address") {
            options.localAddress = value;
            valid = ParseDottedAddress(value).has_value();
        } else {
            *error = "unknown option " + std::string(name);
            return std::nullopt;
        }
        if (!valid || value.empty()) {
            *error = "bad value for " + std::string(name) + ": " + value;
            return std::nullopt;
        }
    }
    uint32_t address = 0;
    uint16_t port = 0;
    if (options.Joining()) {
        if (options.id < kFirstUserId || options.id >= kFirstUserId + options.players) {
            *error = "--join needs --id between 1 and the number of players";
            return std::nullopt;
        }
        if (!ParseEndpoint(options.server, &address, &port)) {
            *error = "--join needs --server ADDR:PORT";
            return std::nullopt;
        }
    } else if (options.id != 0 || !options.server.empty()) {
        *error = "--id and --server belong to --join";
        return std::nullopt;
    }
    return options;
}

}  // namespace room
