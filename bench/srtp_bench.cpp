// What protecting and opening one 1,200-byte RTP packet costs (AES-128-GCM
// through libsrtp2 and our wrapper: the SSRC rules, the epoch's key lookup,
// the counters, the locks), against a memcpy of the same 1,200 bytes in the
// same run.
#include "bench/ratio_reporter.h"

#include "transport/srtp/protector.h"
#include "transport/srtp/unprotector.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
using namespace srtp;

constexpr size_t kPacketBytes = 1200;  // header and payload, before protection
constexpr size_t kBatch = 512;         // packets opened between two refills
constexpr uint32_t kSsrc = 0x5EC0DE01;
using Buffer = std::array<uint8_t, kPacketBytes + kRtpOverheadBytes>;

// A key no earlier run of this process used: a protector takes a key once.
SenderKey FreshKey() {
    static uint32_t runs = 0;
    std::array<uint8_t, 32> secret{};
    std::memcpy(secret.data(), &++runs, sizeof runs);
    return *DeriveSenderKey({secret, {}, 1}, 1, KeyMedium::kVideo);
}

void WriteHeader(Buffer& buffer, uint16_t sequence) {
    buffer[0] = 0x80;
    buffer[1] = 96;
    buffer[2] = static_cast<uint8_t>(sequence >> 8);
    buffer[3] = static_cast<uint8_t>(sequence);
    for (int i = 0; i < 4; ++i) buffer[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(kSsrc >> (24 - 8 * i));
}

void BM_Memcpy(benchmark::State& state) {
    Buffer from{}, to{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(from.data());
        std::memcpy(to.data(), from.data(), kPacketBytes);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kNanosecond);

void BM_Protect(benchmark::State& state) {
    auto protector = Protector::Create(FreshKey());
    Buffer buffer{};
    uint16_t sequence = 0;
    for (auto _ : state) {
        WriteHeader(buffer, ++sequence);  // the payload: whatever the last round left
        if (protector->Protect(PacketKind::kRtp, buffer, kPacketBytes).status != ProtectStatus::kProtected) {
            state.SkipWithError("refused");
            break;
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Protect)->Unit(benchmark::kNanosecond);

void BM_Unprotect(benchmark::State& state) {
    const SenderKey key = FreshKey();
    auto protector = Protector::Create(key);
    auto unprotector = Unprotector::Create();
    unprotector->InstallEpoch(key, 0);
    std::vector<Buffer> batch(kBatch);
    std::vector<size_t> lengths(kBatch);
    uint16_t sequence = 0;
    auto refill = [&] {
        for (size_t i = 0; i < kBatch; ++i) {
            WriteHeader(batch[i], ++sequence);
            lengths[i] = protector->Protect(PacketKind::kRtp, batch[i], kPacketBytes).length;
        }
    };
    size_t next = kBatch;
    for (auto _ : state) {
        if (next == kBatch) {
            state.PauseTiming();
            refill();
            next = 0;
            state.ResumeTiming();
        }
        if (!unprotector->Unprotect(PacketKind::kRtp, std::span(batch[next].data(), lengths[next]), 0).Accepted()) {
            state.SkipWithError("dropped");
            break;
        }
        ++next;
    }
}
BENCHMARK(BM_Unprotect)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // CPU time per iteration in the benchmarks' unit, nanoseconds.
    const double copyNs = reporter.Seconds("BM_Memcpy");
    for (const char* name : {"BM_Protect", "BM_Unprotect"}) {
        const double ns = reporter.Seconds(name);
        if (copyNs > 0 && ns > 0)
            std::printf("%s per 1,200-byte packet: %.2f us of CPU, %.0f times a memcpy of it (%s / BM_Memcpy)\n",
                        name + 3, ns / 1000, ns / copyNs, name);
    }
    benchmark::Shutdown();
    return 0;
}
