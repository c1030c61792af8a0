// What video retransmission costs the engine: rooms of 2, 4, 8 and 16 players
// in this process, each run once with retransmission on (gaps tracked, lost
// packets asked for with NACKs, a second of sent packets kept and resent) and
// once with it off, the two alternating over the repetitions (on-off, off-on,
// ...) so that a warming or busy machine favours neither. The figure is the
// CPU of the engine threads and RTP poll threads per frame delivered to one
// peer; the ratio compares the medians of the two.
//
// Lossless by default, where the work is the history and the gap tracking of
// every packet. With --loss the players reach each other through an
// impairment relay that drops that share of datagrams, where the ratio also
// holds asking and resending (off, lost packets freeze the view until a key
// frame, which picture loss indications still ask for).
#include "bench/engine_cpu_window.h"
#include "bench/lean_room.h"
#include "testbed/address_server/address_server_process.h"
#include "testbed/linked_engine.h"
#include "testbed/network/impaired_lobby.h"
#include "testbed/network/impairment_relay.h"
#include "testbed/tavolin_library.h"
#include "transport/video_retransmission_switch.h"

#include <tavolin/tavolin.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
constexpr auto kWarmUp = std::chrono::milliseconds(500);
constexpr auto kMeasured = std::chrono::seconds(3);
constexpr int kDefaultRepetitions = 4;
constexpr int kMostRepetitions = 20;
constexpr uint64_t kRelaySeed = 1;

struct Options {
    double lossPercent = 0;
    int repetitions = kDefaultRepetitions;
    std::vector<int> sizes = {2, 4, 8, 16};
};

// Engine microseconds per frame and peer, engine CPU seconds per second (the
// RTP poll threads' part apart: where gaps are tracked and NACKs answered),
// and frames delivered per second.
struct RunFigures {
    double engineMicroseconds = 0;
    double engineCores = 0;
    double pollCores = 0;
    double decodedPerSecond = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--loss") && hasValue) {
            options.lossPercent = std::atof(argv[++i]);
            if (options.lossPercent < 0 || options.lossPercent > 50) return std::nullopt;
        } else if (!std::strcmp(argv[i], "--repetitions") && hasValue) {
            options.repetitions = std::atoi(argv[++i]);
            if (options.repetitions < 1 || options.repetitions > kMostRepetitions) return std::nullopt;
        } else {
            const int players = std::atoi(argv[i]);
            if (players < 2 || players > 16) return std::nullopt;
            sizes.push_back(players);
        }
    }
    if (!sizes.empty()) options.sizes = sizes;
    return options;
}

// One room, its engines opened with retransmission on or off.
std::optional<RunFigures> RunRoom(uint16_t serverPort, int players, bool retransmission, double lossPercent) {
    transmission::EnableVideoRetransmission(retransmission);
    room::ImpairmentSettings settings;
    settings.lossPercent = lossPercent;
    settings.seed = kRelaySeed;
    room::ImpairmentRelay relay(settings);
    room::ImpairedLobby relayedLobby(relay);
    std::optional<RunFigures> figures;
    {
        bench::LeanRoom room(room::LinkedEngine(), players, serverPort, 0, lossPercent > 0 ? &relayedLobby : nullptr);
        std::string error;
        if (room.StartAndWait(&error)) {
            std::this_thread::sleep_for(kWarmUp);
            const bench::EngineCpuWindow window = bench::MeasureEngineCpu(room, kMeasured);
            if (window.decoded > 0)
                figures = RunFigures{1e6 * window.engineSeconds / static_cast<double>(window.decoded),
                                     window.engineSeconds / window.wallSeconds,
                                     (window.engineSeconds - window.pumpSeconds) / window.wallSeconds,
                                     static_cast<double>(window.decoded) / window.wallSeconds};
            else
                std::printf("%2d players, retransmission %s: no frame delivered\n", players,
                            retransmission ? "on" : "off");
        } else {
            for (const std::string& problem : relayedLobby.Problems()) error += "; " + problem;
            std::printf("%2d players, retransmission %s: %s\n", players, retransmission ? "on" : "off", error.c_str());
        }
    }
    relay.Stop();
    transmission::EnableVideoRetransmission(true);
    return figures;
}

bool MeasureSize(uint16_t serverPort, int players, const Options& options) {
    std::vector<double> onCost, offCost, onCores, offCores, onPoll, offPoll, onRate, offRate, pairRatios;
    for (int repetition = 0; repetition < options.repetitions; ++repetition) {
        const bool onFirst = repetition % 2 == 0;
        std::optional<RunFigures> on, off;
        for (const bool retransmission : {onFirst, !onFirst}) {
            std::optional<RunFigures>& run = retransmission ? on : off;
            run = RunRoom(serverPort, players, retransmission, options.lossPercent);
            if (!run) return false;
        }
        onCost.push_back(on->engineMicroseconds);
        offCost.push_back(off->engineMicroseconds);
        onCores.push_back(on->engineCores);
        offCores.push_back(off->engineCores);
        onPoll.push_back(on->pollCores);
        offPoll.push_back(off->pollCores);
        onRate.push_back(on->decodedPerSecond);
        offRate.push_back(off->decodedPerSecond);
        pairRatios.push_back(on->engineMicroseconds / off->engineMicroseconds);
    }
    const double ratio = Median(onCost) / Median(offCost);
    std::printf("%7d %5d %8.3f %8.3f %7.3f %8.1f %8.1f %8.1f %8.1f %7.3f %7.3f %7.3f\n", players, options.repetitions,
                Median(onCores), Median(offCores), Median(onPoll) / Median(offPoll), Median(onRate), Median(offRate),
                Median(onCost), Median(offCost), ratio, *std::min_element(pairRatios.begin(), pairRatios.end()),
                *std::max_element(pairRatios.begin(), pairRatios.end()));
    std::fflush(stdout);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: %s [--loss PERCENT (0..50)] [--repetitions N (1..%d)] [PLAYERS (2..16)...]\n",
                     argv[0], kMostRepetitions);
        return 1;
    }
    std::string error;
    const auto server = room::AddressServerProcess::Start(TAVOLIN_DEFAULT_ADDRD, &error);
    if (!server) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (options->lossPercent > 0)
        std::printf(
            "Engine CPU with video retransmission on over the same with it off, through a relay "
            "dropping %g %% of datagrams\n",
            options->lossPercent);
    else
        std::printf("Engine CPU with video retransmission on over the same with it off, lossless loopback\n");
    std::printf("players  runs on       off      poll    on       off      on       off      ratio   pair ratios\n");
    std::printf("               cores    cores    on/off  dec/s    dec/s    us/f*p   us/f*p   on/off  min     max\n");
    bool allRan = true;
    for (const int players : options->sizes) allRan = MeasureSize(server->Port(), players, *options) && allRan;
    std::printf(
        "\ncores: CPU seconds per second of the engine threads and RTP poll threads;\n"
        "poll: the poll threads' cores alone, on over off;\n"
        "dec/s: frames delivered to a peer per second; us/f*p: the engine's CPU\n"
        "microseconds per frame delivered to one peer (each a median over the runs).\n"
        "The ratio compares the medians; the pair ratios are those of each on run over\n"
        "the off run next to it.\n");
    return allRan ? 0 : 2;
}
