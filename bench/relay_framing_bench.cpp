// CPU per relayed datagram in a room of 16: framing media for a bound peer
// as ChannelData and sending it, and unwrapping what the relay server
// delivers, each with the one copy of the datagram that the direct path makes
// too (into or out of the kernel), against that copy alone.
#include "bench/ratio_reporter.h"

#include "tests/transport/relay/canned_server.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/relay/allocation.h"
#include "transport/relay/channel_data.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
using namespace relay;
using namespace relay_testing;

constexpr int kOtherPlayers = 15;
constexpr size_t kMaxDatagramBytes = 1500;

// Records while the allocation is set up, then copies each datagram into one
// buffer as sendmsg copies it into the kernel.
struct CopyingPort : RecordingPort {
    bool copying = false;
    uint8_t buffer[kMaxDatagramBytes + 64];
    size_t length = 0;

    bool SendToServer(const rtp::RTPIPv4Address& to, std::span<const Piece> pieces) override {
        if (!copying) return RecordingPort::SendToServer(to, pieces);
        length = 0;
        for (const Piece piece : pieces) {
            std::memcpy(buffer + length, piece.data(), piece.size());
            length += piece.size();
        }
        return true;
    }
};

rtp::RTPIPv4Address Player(int index) { return rtp::RTPIPv4Address(kPeer.GetIP(), kPeer.GetPort() + 2 * index); }

// Allocated, with a bound channel for each of the other players.
struct Room {
    CopyingPort port;
    rtp_testing::FixedRandom random;
    Allocation allocation{port, random, kServerSettings, PortRequest{true, std::nullopt}};

    Room() {
        AllocateWithBoundPeer(allocation, port, 0);
        RelayedDatagram relayed;
        for (int i = 1; i < kOtherPlayers; ++i) {
            allocation.AddPeer(Player(i), 0);  // a known address: the channel alone
            allocation.OnServerDatagram(Answer(port.Request(), StunClass::kSuccess), 0, &relayed);
        }
        port.copying = true;
    }
};

void BM_Copy(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> source(size, 0x5A), target(size);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), size);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Copy)->Arg(200)->Arg(1200);

void BM_RelayWrap(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    Room room;
    const std::vector<uint8_t> media(size, 0x5A);
    const rtp::RTPIPv4Address last = Player(kOtherPlayers - 1);
    int64_t now = 0;
    for (auto _ : state) {
        if (!room.allocation.SendToPeer(last, media, ++now)) state.SkipWithError("not sent");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RelayWrap)->Arg(200)->Arg(1200);

void BM_RelayUnwrap(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    Room room;
    std::vector<uint8_t> delivered(kChannelDataHeaderBytes + size, 0x5A), received(delivered.size());
    WriteChannelDataHeader(delivered.data(), kFirstChannel + kOtherPlayers - 1, size);
    RelayedDatagram relayed;
    int64_t now = 0;
    for (auto _ : state) {
        std::memcpy(received.data(), delivered.data(), delivered.size());
        if (room.allocation.OnServerDatagram(received, ++now, &relayed) != Allocation::Received::kRelayed)
            state.SkipWithError("not relayed");
        benchmark::DoNotOptimize(relayed);
    }
}
BENCHMARK(BM_RelayUnwrap)->Arg(200)->Arg(1200);

}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* size : {"200", "1200"}) {
        const double copy = reporter.Seconds(std::string("BM_Copy/") + size);
        const double wrap = reporter.Seconds(std::string("BM_RelayWrap/") + size);
        const double unwrap = reporter.Seconds(std::string("BM_RelayUnwrap/") + size);
        if (copy > 0 && wrap > 0 && unwrap > 0)
            std::printf(
                "%s-byte datagram, relative to copying it: framing and sending %.2f, unwrapping %.2f "
                "(BM_RelayWrap / BM_Copy, BM_RelayUnwrap / BM_Copy); beyond the copy %.1f ns and %.1f ns\n",
                size, wrap / copy, unwrap / copy, wrap - copy, unwrap - copy);
    }
    benchmark::Shutdown();
    return 0;
}
