#include "tools/room/room_demo.h"

#include "testbed/address_server/address_server_process.h"
#include "testbed/address_server/relay_server_process.h"
#include "testbed/lobby.h"
#include "testbed/network/impaired_lobby.h"
#include "testbed/network/impairment_relay.h"
#include "testbed/room.h"
#include "testbed/room_secret.h"
#include "testbed/testbed_constants.h"
#include "testbed/voice_room.h"
#include "tools/room/hop_report.h"
#include "tools/room/mosaic.h"
#include "tools/room/report.h"
#include "tools/room/room_constants.h"
#include "tools/room/stop_signal.h"
#include "tools/room/transport_report.h"
#include "tools/room/voice_report.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

namespace room {
namespace {
constexpr const char* kRoomId = "tavolin-room";

// The keys of an encrypted room: those the player was handed, or new ones.
std::optional<RoomSecret> RoomSecretFor(const RoomOptions& options) {
    if (!options.encrypt) return std::nullopt;
    if (options.roomSecretHex.empty()) return NewRoomSecret(kRoomId, options.epoch);
    return RoomSecret{kRoomId, *FromHex(options.roomSecretHex), options.epoch};
}

RoomPlayer PlayerFor(const RoomOptions& options, const RelayOptions& relay, int userId, bool usesRealCamera,
                     uint32_t serverAddress, uint16_t serverPort, const std::optional<RoomSecret>& keys) {
    const uint32_t localAddress = *ParseDottedAddress(options.localAddress);
    RoomPlayer player = SyntheticCameraPlayer(userId, localAddress, serverAddress, serverPort);
    for (const RelayServerOption& server : relay.servers)
        player.setup.relays.push_back({server.address, server.port, server.transport, "", ""});
    if (!relay.servers.empty()) {
        player.setup.relayUser = relay.user;
        player.setup.relayPassword = relay.password;
        player.setup.relayPolicy = relay.policy;
    }
    player.setup.roomSecret = keys;
    player.setup.adaptUplink = options.adaptUplink;
    if (usesRealCamera) {
        player.setup.cameraName = options.camera;
        player.syntheticPattern.reset();
    }
    return player;
}

// A relay server of the room's own for `relay`, whose server list it
// fills; none (and no relay) when coturn is not installed or fails to start.
std::unique_ptr<RelayServerProcess> StartOwnRelayServer(RelayOptions* relay, std::ostream& out, std::ostream& errors) {
    const std::string program = RelayServerProcess::FindProgram();
    std::string error = "coturn (turnserver) is not installed";
    std::unique_ptr<RelayServerProcess> server = program.empty() ? nullptr : RelayServerProcess::Start(program, &error);
    if (!server) {
        errors << "no relay server: " << error << "; the players run without a relay\n";
        relay->policy = TAVOLIN_RELAY_NEVER;
        return nullptr;
    }
    relay->servers = {{kLoopbackAddress, server->Port(), TAVOLIN_RELAY_UDP}};
    relay->user = server->User();
    relay->password = server->Password();
    out << "relay server 127.0.0.1:" << server->Port() << " (coturn, started for this room)\n";
    return server;
}

// note: what the line adds, e.g. that a player fell back to its synthetic
// camera. `seconds` is the line's place in the schedule; rates are over the
// real time since the line before (`interval`), which a starved machine
// stretches beyond the status period.
void PrintStatus(const RoomStatus& now, const RoomStatus& before, double seconds, double interval, uint64_t voiceFrames,
                 const std::string& note, std::ostream& out) {
    char line[240];
    std::snprintf(line, sizeof line,
                  "[%5.1f s] in the room %d/%d (public address %d/%d), video %d/%d pairs, frames/s out %.1f in %.1f, "
                  "voice frames/s %.1f%s\n",
                  seconds, now.playersWithAllPeers, now.players, now.playersWithPublicAddress, now.players,
                  now.pairsWithVideo, now.pairs,
                  static_cast<double>(now.framesCaptured - before.framesCaptured) / interval,
                  static_cast<double>(now.framesDrawn - before.framesDrawn) / interval,
                  static_cast<double>(voiceFrames) / interval, note.c_str());
    out << line << std::flush;
}

// Runs the room for the given time, one status line per period, or until a
// stop signal comes. Returns false when it was stopped early.
bool RunFor(Room& room, VoiceRoom& voice, double seconds, const std::string& note, std::ostream& out) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kStopCheckPeriod = std::chrono::milliseconds(50);
    const auto start = Clock::now();
    auto lastLine = start;
    RoomStatus before;
    uint64_t voiceBefore = 0;
    for (int tick = 1;; ++tick) {
        const double elapsed = std::min(seconds, tick * kStatusPeriodSeconds);
        const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(elapsed));
        while (Clock::now() < due) {
            if (StopRequested()) {
                out << "stopped by signal after " << std::chrono::duration<double>(Clock::now() - start).count()
                    << " s\n";
                return false;
            }
            std::this_thread::sleep_until(std::min(due, Clock::now() + kStopCheckPeriod));
        }
        const RoomStatus now = room.Status();
        const uint64_t voiceNow = voice.FramesPlayed();
        voice.AnalyseHeard();
        const auto at = Clock::now();
        // A speaker removed and added again (told at new ports) counts from zero.
        const uint64_t voiceFrames = voiceNow >= voiceBefore ? voiceNow - voiceBefore : voiceNow;
        PrintStatus(now, before, elapsed, std::chrono::duration<double>(at - lastLine).count(), voiceFrames, note, out);
        lastLine = at;
        before = now;
        voiceBefore = voiceNow;
        if (elapsed >= seconds) return true;
    }
}

// A time on the monotonic clock (CLOCK_MONOTONIC) in seconds.
double MonotonicSeconds(std::chrono::steady_clock::time_point at) {
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

bool WriteOutputs(const Room& room, const RoomReport& report, const RunFigures& run, const std::string& directory,
                  std::ostream& errors) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        errors << "cannot create " << directory << ": " << error.message() << '\n';
        return false;
    }
    bool written = true;
    const auto fail = [&](const std::string& what) {
        errors << what << '\n';
        written = false;
    };
    std::ofstream stats(directory + "/stats.json");
    stats << StatsJson(report, run) << '\n';
    if (!stats) fail("cannot write " + directory + "/stats.json");
    std::string pngError;
    if (!BuildMosaic(room).WritePng(directory + "/mosaic.png", &pngError)) fail(pngError);
    if (!room.Log().WriteFile(directory + "/log.txt")) fail("cannot write " + directory + "/log.txt");
    return written;
}
}  // namespace

int RunRoomDemo(const RoomOptions& options, std::ostream& out, std::ostream& errors) {
    std::string error;
    const auto library = TavolinLibrary::Load(options.library, &error);
    if (!library) {
        errors << error << '\n';
        return 1;
    }

    // A camera that does not exist is reported now; its player keeps its synthetic camera.
    bool realCamera = !options.camera.empty();
    std::string cameraNote;
    if (realCamera && !library->HasCamera(options.camera)) {
        realCamera = false;
        const std::string player = std::to_string(options.Joining() ? options.id : kFirstUserId);
        errors << "no camera named \"" << options.camera << "\": player " << player << " uses its synthetic camera\n";
        cameraNote = ", player " + player + " on its synthetic camera";
    }

    std::unique_ptr<AddressServerProcess> server;
    std::unique_ptr<RelayServerProcess> relayServer;
    uint32_t serverAddress = kLoopbackAddress;
    uint16_t serverPort = 0;
    std::unique_ptr<ImpairmentRelay> relay;
    std::unique_ptr<Lobby> lobby;
    std::vector<RoomPlayer> players;
    const std::optional<RoomSecret> keys = RoomSecretFor(options);
    if (options.Joining()) {
        ParseEndpoint(options.server, &serverAddress, &serverPort);
        lobby = std::make_unique<DirectoryLobby>(options.joinDirectory, kDirectoryLobbyPollInterval);
        players.push_back(PlayerFor(options, options.relay, options.id, realCamera, serverAddress, serverPort, keys));
    } else {
        server = AddressServerProcess::Start(options.addressServer, &error);
        if (!server) {
            errors << error << '\n';
            return 1;
        }
        serverPort = server->Port();
        if (options.impairment.Active()) {
            relay = std::make_unique<ImpairmentRelay>(options.impairment);
            lobby = std::make_unique<ImpairedLobby>(*relay);
        } else {
            lobby = std::make_unique<SharedLobby>();
        }
        RelayOptions relay = options.relay;
        if (relay.OwnServer()) relayServer = StartOwnRelayServer(&relay, out, errors);
        for (int id = kFirstUserId; id < kFirstUserId + options.players; ++id)
            players.push_back(PlayerFor(options, relay, id, id == kFirstUserId && realCamera, serverAddress, serverPort,
                                        keys));
    }
    out << "address server " << DottedAddress(serverAddress) << ':' << serverPort << ", " << options.players
        << " players, " << options.seconds << " s\n";
    if (keys) out << "encrypted room, epoch " << keys->epoch << ", room secret " << ToHex(keys->secret) << '\n';

    std::vector<int> localIds;
    for (const RoomPlayer& player : players) localIds.push_back(player.setup.userId);
    VoiceFunctions voiceFunctions;
    std::error_code noDirectory;
    std::filesystem::create_directories(options.outDirectory, noDirectory);  // the speakers write there
    if (!voiceFunctions.Resolve(options.library, &error)) {
        errors << error << '\n';
        return 1;
    }
    VoiceRoom voice(voiceFunctions, localIds, options.players, options.outDirectory, options.voice);
    if (!voice.AddDevices(&error)) {
        errors << error << '\n';
        return 1;
    }

    HopTraceFunctions trace;
    if (options.trace) {
        if (!trace.Resolve(options.library, &error)) {
            errors << error << '\n';
            return 1;
        }
        trace.setTrace(1);
    }

    Room room(*library, std::move(players), options.players, *lobby);
    if (!room.Start(&error)) {
        errors << error << '\n';
        return 1;
    }
    for (int id : localIds) room.Post(id, voice.StartTask(id));
    voice.StartPressingKeys();
    const auto runStart = std::chrono::steady_clock::now();
    const bool ranFullTime = RunFor(room, voice, options.seconds, cameraNote, out);
    RunFigures run;
    run.monotonicSeconds = {MonotonicSeconds(runStart), MonotonicSeconds(std::chrono::steady_clock::now())};
    voice.CollectCounters();
    room.Stop();
    std::optional<HopTable> hops;
    if (options.trace) {
        const uint64_t dropped = trace.setTrace(0);
        const std::vector<TavolinHopRecord> records = trace.TakeAll();
        hops = BuildHopTable(records, dropped);
        PrintHopTable(*hops, out);
        if (!WriteHopRecords(records, options.outDirectory + "/hops.csv"))
            errors << "cannot write " << options.outDirectory << "/hops.csv\n";
        run.trace = &*hops;
    }
    if (relay) {
        relay->Stop();
        run.relay = relay.get();
        for (const std::string& problem : static_cast<ImpairedLobby&>(*lobby).Problems()) errors << problem << '\n';
    }
    const RoomReport report = room.Report();
    PrintReport(report, out);
    PrintTransportTable(report, out);
    PrintEncryptionTable(report, out);
    const VoiceReport voiceReport = voice.Report();
    PrintVoiceReport(voiceReport, out);
    run.voice = &voiceReport;
    const bool written = WriteOutputs(room, report, run, options.outDirectory, errors);
    voice.WriteLog(options.outDirectory + "/voice-log.txt");
    if (written)
        out << "wrote " << options.outDirectory << "/stats.json, mosaic.png, log.txt, voice-log.txt, heard-*.wav\n";
    const bool everyoneHeard = voiceReport.EveryPairAsExpected();
    return ranFullTime && report.EveryViewerSawEverySender() && everyoneHeard && written ? 0 : 1;
}

}  // namespace room
