#include "tools/room/room_options.h"

#include "testbed/lobby.h"
#include "testbed/room_secret.h"
#include "testbed/testbed_constants.h"
#include "tools/common/command_line.h"

#include <algorithm>
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

bool ParseRelayEndpoint(const std::string& text, RelayServerOption* endpoint) {
    constexpr std::string_view kTcp = "tcp:";
    constexpr std::string_view kUdp = "udp:";
    std::string_view rest = text;
    endpoint->transport = TAVOLIN_RELAY_UDP;
    if (rest.substr(0, kTcp.size()) == kTcp) {
        endpoint->transport = TAVOLIN_RELAY_TCP;
        rest.remove_prefix(kTcp.size());
    } else if (rest.substr(0, kUdp.size()) == kUdp) {
        rest.remove_prefix(kUdp.size());
    }
    return ParseEndpoint(std::string(rest), &endpoint->address, &endpoint->port);
}

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

namespace {
constexpr const char* kProgram = "tavolin-room";
constexpr const char* kHelp =
    "usage: tavolin-room [--players N] [--seconds S] [--out DIR] [--camera NAME] [--library PATH] [--addrd PATH]\n"
    "                    [--trace]\n"
    "       tavolin-room --join DIR --id K --server ADDR:PORT [--local-address ADDR] [--players N] [--seconds S]\n"
    "                    [--out DIR]\n"
    "       tavolin-room [--loss PCT] [--burst N] [--delay MS] [--jitter MS] [--reorder PCT] [--duplicate PCT]\n"
    "                    [--no-feedback] [--seed S] [other options of a room in one process]\n"
    "       tavolin-room --uplink KBITS [--uplink-player ID] [--uplink-drop-at S --uplink-to KBITS]\n"
    "                    [--uplink-lift-at S] [--adapt-uplink] [other options of a room in one process]\n"
    "       tavolin-room [--voice-activity | --push-to-talk PATTERN] [--volume ID:PCT]... [--mute ID]...\n"
    "                    [other options]\n"
    "       tavolin-room --relay [tcp:]ADDR:PORT... --relay-user U --relay-password P\n"
    "                    [--relay-policy never|auto|always]\n"
    "       tavolin-room --relay-policy auto|always [other options of a room in one process]\n"
    "                    [other options, of --join or of a room in one process]\n"
    "       tavolin-room --encrypt [other options of a room in one process]\n"
    "       tavolin-room --sound-server [other options of a room in one process]\n"
    "       tavolin-room --encrypt --room-secret HEX --epoch N [other options of --join]\n"
    "\n"
    "Runs a video chat room of N players (2..16, default 3) for S seconds (default 10):\n"
    "an address server on loopback, N engines on threads of their own, each with a\n"
    "moving synthetic camera (player 1 uses camera NAME when given, or its synthetic\n"
    "one when no camera has that name). Prints a status line per second and a table\n"
    "per viewer and sender, and writes DIR/stats.json, DIR/mosaic.png and DIR/log.txt\n"
    "(DIR defaults to room-out). Exits 0 only when every viewer decoded video from\n"
    "every other player. Ctrl-C or SIGTERM ends the room early; what it has is\n"
    "still reported and written.\n"
    "\n"
    "With --join the process runs player K of N only; the players meet through files\n"
    "in the shared directory DIR (empty at the start) and use the address server at\n"
    "ADDR:PORT. ADDR of --local-address (default 127.0.0.1) is what the others are\n"
    "told as this player's local address; when the server has not answered in 4 s,\n"
    "it is told as its public address too, as players on one LAN need.\n"
    "\n"
    "With any of --loss, --delay, --jitter, --reorder, --duplicate or --no-feedback,\n"
    "every pair of players talks through a relay on 127.0.0.1 that loses PCT % of\n"
    "the datagrams (in bursts of N, default 1), delays them by MS ms varying by up\n"
    "to --jitter MS either way, holds back --reorder PCT % so later ones overtake\n"
    "them, and sends --duplicate PCT % twice, each direction, medium and channel\n"
    "drawn from seed S\n"
    "(default 1); --no-feedback drops every RTCP compound carrying feedback (NACK,\n"
    "picture loss), as between peers that ignore it. What the relay did is in\n"
    "stats.json \"relay\".\n"
    "\n"
    "With --uplink KBITS everything player ID (default 1) sends leaves through the\n"
    "relay's model of a home router's uplink first: KBITS kbit/s (IPv4 and UDP\n"
    "headers counted) with a 300 ms backlog, dropped at its tail when full;\n"
    "--uplink-drop-at S --uplink-to KBITS changes the rate S seconds into the run,\n"
    "--uplink-lift-at S restores KBITS. stats.json \"relay\" \"send_rates\" holds\n"
    "every player's sent kbit/s, second by second. With --adapt-uplink every\n"
    "player's engine fits its video to its uplink's budget, voice first.\n"
    "\n"
    "Every player speaks its tone all the time, unless --voice-activity (players\n"
    "talk now and then, in bursts like syllables, and only that is sent) or\n"
    "--push-to-talk PATTERN (each player's key is down and up for the PATTERN's\n"
    "milliseconds in turn, DOWN:UP[:DOWN:UP...], over and over, player k of n\n"
    "starting k/n of it late). --volume ID:PCT sets every listener's volume for\n"
    "player ID (0..200 %), --mute ID mutes player ID for every listener; both may\n"
    "be given more than once. A muted player must then not be heard. The voice\n"
    "table shows what each speaker sent (frames, talking time) and its level as\n"
    "heard.\n"
    "\n"
    "With --sound-server the players' microphones and speakers are devices of a\n"
    "sound server the room starts for itself (PulseAudio, run as a private user\n"
    "daemon, so nothing is played on this machine's own speakers): a microphone and\n"
    "a speaker per player on one virtual bus, whose recording is what the voice\n"
    "table's mouth-to-ear latency is measured on.\n"
    "\n"
    "With --trace the engine stamps every video frame at each hop from the camera\n"
    "to the remote view; the time each hop took (median, p99) is printed and\n"
    "written to stats.json \"trace\", every stamp to DIR/hops.csv.\n"
    "\n"
    "With --relay every player of this process may relay its media through the\n"
    "relay server (TURN over UDP, over TCP with the prefix tcp:) at ADDR:PORT with\n"
    "user U and password P: always (the default when --relay is given), never, or\n"
    "auto: only when the relay server sees the player at another port than the\n"
    "address server did (its translator maps per destination, so hole punching\n"
    "fails), or when only the relay server answers (over TCP: only then). --relay\n"
    "may be given more than once: when a server fails, the players allocate on the\n"
    "next. The player table says \"relayed\" for each player whose sessions are\n"
    "relayed. A room in one process given --relay-policy without --relay starts a\n"
    "relay server of its own on 127.0.0.1 (coturn, with a user and password of\n"
    "this run), as it starts its address server, and stops it at the end; without\n"
    "coturn installed it says so and runs without a relay.\n"
    "\n"
    "With --encrypt the room is encrypted: every player protects what it sends with\n"
    "keys derived from one room secret (SRTP, AES-128-GCM) and drops what does not\n"
    "open. In one process the room draws a random secret (epoch 1) and prints it;\n"
    "with --join every process takes the same --room-secret HEX (at least 16 bytes)\n"
    "and --epoch N. The encryption table shows per pair whether the media came\n"
    "encrypted and how many datagrams failed to open.\n"
    "\n"
    "  --library PATH   the engine library to load (default: the installed one)\n"
    "  --addrd PATH     the tavolin-addrd to start (default: the one beside this tool)\n"
    "  --help           this text\n"
    "  --version        the version\n";

std::string Checked(bool valid, const char* problem) { return valid ? std::string() : problem; }

constexpr double kMaximumDelayMs = 10000;
constexpr double kMaximumUplinkKbits = 100000;
// A push-to-talk press or pause: from one voice frame to a minute.
constexpr int kShortestPressMs = 30;
constexpr int kLongestPressMs = 60000;

// "DOWN:UP[:DOWN:UP...]" in milliseconds.
bool ParsePressPattern(std::string_view text, std::vector<int>* pattern) {
    pattern->clear();
    for (size_t start = 0;;) {
        const size_t colon = std::min(text.find(':', start), text.size());
        int ms = 0;
        if (!ParseNumber(text.substr(start, colon - start), &ms) || ms < kShortestPressMs || ms > kLongestPressMs)
            return false;
        pattern->push_back(ms);
        if (colon == text.size()) break;
        start = colon + 1;
    }
    return pattern->size() % 2 == 0;
}

// "ID:PCT".
bool ParseVolume(std::string_view text, std::map<int, int>* volumes) {
    const size_t colon = text.find(':');
    int id = 0, percent = 0;
    if (colon == std::string_view::npos || !ParseNumber(text.substr(0, colon), &id) ||
        !ParseNumber(text.substr(colon + 1), &percent) || percent < 0 || percent > 200)
        return false;
    (*volumes)[id] = percent;
    return true;
}

// A number within [low, high].
auto Bounded(double* field, double low, double high, const char* problem) {
    return [=](const char* value) {
        return Checked(ParseNumber(std::string_view(value), field) && *field >= low && *field <= high, problem);
    };
}
}  // namespace

std::optional<int> ReadRoomOptions(int argc, char** argv, RoomOptions* options) {
    int transmitModes = 0;
    bool relayPolicyGiven = false;
    bool epochGiven = false;
    bool soundServer = false;
    const auto text = [](std::string* field) {
        return [field](const char* value) {
            *field = value;
            return Checked(!field->empty(), "must not be empty");
        };
    };
    const tools::ToolCommandLine commandLine{
        kProgram,
        kHelp,
        {{"players", "N",
          [&](const char* value) {
              return Checked(ParseNumber(std::string_view(value), &options->players) &&
                                 options->players >= kMinPlayers && options->players <= kMaxPlayers,
                             "not a number of players (2..16)");
          }},
         {"seconds", "S",
          [&](const char* value) {
              return Checked(ParseNumber(std::string_view(value), &options->seconds) &&
                                 std::isfinite(options->seconds) && options->seconds > 0,
                             "not a positive number of seconds");
          }},
         {"out", "DIR", text(&options->outDirectory)},
         {"camera", "NAME", text(&options->camera)},
         {"library", "PATH", text(&options->library)},
         {"addrd", "PATH", text(&options->addressServer)},
         {"join", "DIR", text(&options->joinDirectory)},
         {"id", "K",
          [&](const char* value) {
              return Checked(ParseNumber(std::string_view(value), &options->id), "not a player number");
          }},
         {"server", "ADDR:PORT", text(&options->server)},
         {"loss", "PCT", Bounded(&options->impairment.lossPercent, 0, 100, "not a percentage")},
         {"burst", "N",
          [&](const char* value) {
              return Checked(ParseNumber(std::string_view(value), &options->impairment.burst) &&
                                 options->impairment.burst >= 1 && options->impairment.burst <= 1000,
                             "not a burst length (1..1000)");
          }},
         {"delay", "MS", Bounded(&options->impairment.delayMs, 0, kMaximumDelayMs, "not a delay (0..10000 ms)")},
         {"jitter", "MS", Bounded(&options->impairment.jitterMs, 0, kMaximumDelayMs, "not a jitter (0..10000 ms)")},
         {"reorder", "PCT", Bounded(&options->impairment.reorderPercent, 0, 100, "not a percentage")},
         {"duplicate", "PCT", Bounded(&options->impairment.duplicatePercent, 0, 100, "not a percentage")},
         {"seed", "S",
          [&](const char* value) {
              return Checked(ParseNumber(std::string_view(value), &options->impairment.seed), "not a seed");
          }},
         {"no-feedback", nullptr,
          [&](const char*) {
              options->impairment.dropFeedback = true;
              return std::string();
          }},
         {"uplink", "KBITS",
          Bounded(&options->impairment.uplink.kbits, 8, kMaximumUplinkKbits, "not a rate (8..100000)")},
         {"uplink-player", "ID",
          [&](const char* value) {
              return Checked(ParseNumber(std::string_view(value), &options->impairment.uplink.player),
                             "not a player number");
          }},
         {"uplink-drop-at", "S", Bounded(&options->impairment.uplink.dropAtSeconds, 0, 86400, "not a time (s)")},
         {"uplink-to", "KBITS",
          Bounded(&options->impairment.uplink.dropToKbits, 8, kMaximumUplinkKbits, "not a rate (8..100000)")},
         {"uplink-lift-at", "S", Bounded(&options->impairment.uplink.liftAtSeconds, 0, 86400, "not a time (s)")},
         {"relay", "[tcp:]ADDR:PORT",
          [&](const char* value) {
              RelayServerOption endpoint;
              const bool parsed = ParseRelayEndpoint(value, &endpoint);
              if (parsed) options->relay.servers.push_back(endpoint);
              return Checked(parsed, "not [tcp:|udp:]ADDR:PORT");
          }},
         {"relay-user", "U", text(&options->relay.user)},
         {"relay-password", "P", text(&options->relay.password)},
         {"relay-policy", "never|auto|always",
          [&](const char* value) {
              const std::string policy = value;
              options->relay.policy = policy == "always" ? TAVOLIN_RELAY_ALWAYS
                                      : policy == "auto" ? TAVOLIN_RELAY_WHEN_NEEDED
                                                         : TAVOLIN_RELAY_NEVER;
              relayPolicyGiven = true;
              return Checked(policy == "always" || policy == "auto" || policy == "never", "not never, auto or always");
          }},
         {"encrypt", nullptr,
          [&](const char*) {
              options->encrypt = true;
              return std::string();
          }},
         {"room-secret", "HEX", text(&options->roomSecretHex)},
         {"epoch", "N",
          [&](const char* value) {
              epochGiven = true;
              return Checked(ParseNumber(std::string_view(value), &options->epoch), "not an epoch number");
          }},
         {"adapt-uplink", nullptr,
          [&](const char*) {
              options->adaptUplink = true;
              return std::string();
          }},
         {"trace", nullptr,
          [&](const char*) {
              options->trace = true;
              return std::string();
          }},
         {"sound-server", nullptr,
          [&](const char*) {
              soundServer = true;
              return std::string();
          }},
         {"voice-activity", nullptr,
          [&](const char*) {
              options->voice.transmitMode = TAVOLIN_VOICE_TRANSMIT_VOICE_ACTIVITY;
              ++transmitModes;
              return std::string();
          }},
         {"push-to-talk", "PATTERN",
          [&](const char* value) {
              options->voice.transmitMode = TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK;
              ++transmitModes;
              return Checked(ParsePressPattern(value, &options->voice.pushToTalkMs),
                             "not DOWN:UP[:DOWN:UP...] in ms (30..60000 each)");
          }},
         {"volume", "ID:PCT",
          [&](const char* value) {
              return Checked(ParseVolume(value, &options->voice.volumePercent), "not ID:PCT (0..200)");
          }},
         {"mute", "ID",
          [&](const char* value) {
              int id = 0;
              if (!ParseNumber(std::string_view(value), &id)) return std::string("not a player number");
              options->voice.muted.insert(id);
              return std::string();
          }},
         {"local-address", "ADDR", [&](const char* value) {
              options->localAddress = value;
              return Checked(ParseDottedAddress(value).has_value(), "not an IPv4 address");
          }}}};
    if (const auto status = tools::ReadCommandLine(commandLine, argc, argv)) return status;
    if (soundServer) options->voice.soundServerSeconds = options->seconds;

    const auto inRoom = [&](int id) { return id >= kFirstUserId && id < kFirstUserId + options->players; };
    for (const auto& [id, percent] : options->voice.volumePercent)
        if (!inRoom(id)) return tools::CommandLineError(kProgram, "--volume names no player of the room");
    for (const int id : options->voice.muted)
        if (!inRoom(id)) return tools::CommandLineError(kProgram, "--mute names no player of the room");
    UplinkSettings& uplink = options->impairment.uplink;
    if (uplink.kbits > 0 && uplink.player == 0) uplink.player = kFirstUserId;
    if (uplink.kbits > 0 && !inRoom(uplink.player))
        return tools::CommandLineError(kProgram, "--uplink-player names no player of the room");
    if (uplink.kbits == 0 && (uplink.player != 0 || uplink.dropAtSeconds >= 0 || uplink.liftAtSeconds >= 0))
        return tools::CommandLineError(kProgram,
                                       "--uplink-player, --uplink-drop-at and --uplink-lift-at need --uplink");
    if ((uplink.dropAtSeconds >= 0) != (uplink.dropToKbits > 0))
        return tools::CommandLineError(kProgram, "--uplink-drop-at and --uplink-to go together");
    if (transmitModes > 1)
        return tools::CommandLineError(kProgram, "--voice-activity and --push-to-talk exclude each other");

    uint32_t address = 0;
    uint16_t port = 0;
    if (!options->relay.servers.empty()) {
        if (options->relay.user.empty() || options->relay.password.empty())
            return tools::CommandLineError(kProgram, "--relay needs --relay-user and --relay-password");
        if (!relayPolicyGiven) options->relay.policy = TAVOLIN_RELAY_ALWAYS;
    } else if (!options->relay.user.empty() || !options->relay.password.empty()) {
        return tools::CommandLineError(kProgram, "--relay-user and --relay-password need --relay");
    } else if (relayPolicyGiven && options->Joining()) {
        return tools::CommandLineError(kProgram, "--relay-policy with --join needs --relay");
    }
    if (!options->encrypt && (!options->roomSecretHex.empty() || epochGiven))
        return tools::CommandLineError(kProgram, "--room-secret and --epoch need --encrypt");
    if (options->encrypt && options->Joining() != !options->roomSecretHex.empty())
        return tools::CommandLineError(kProgram, "--room-secret belongs to --encrypt with --join, and --join needs it");
    if (!options->roomSecretHex.empty()) {
        const auto secret = FromHex(options->roomSecretHex);
        if (!secret || secret->size() < kMinRoomSecretBytes)
            return tools::CommandLineError(kProgram, "--room-secret needs at least 16 bytes in hex");
    }
    if (options->Joining()) {
        if (options->id < kFirstUserId || options->id >= kFirstUserId + options->players)
            return tools::CommandLineError(kProgram, "--join needs --id between 1 and the number of players");
        if (!ParseEndpoint(options->server, &address, &port))
            return tools::CommandLineError(kProgram, "--join needs --server ADDR:PORT");
        if (options->impairment.Active())
            return tools::CommandLineError(kProgram, "the impairment relay needs the whole room in one process");
        if (soundServer) return tools::CommandLineError(kProgram, "--sound-server needs the whole room in one process");
    } else if (options->id != 0 || !options->server.empty()) {
        return tools::CommandLineError(kProgram, "--id and --server belong to --join");
    }
    return std::nullopt;
}

}  // namespace room
