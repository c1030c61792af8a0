// The codec library's optimised routines (TAVOLIN_CODEC_SIMD=1) against the
// portable ones the engine uses by default: encode and decode of the same
// scene under the engine's key-frame policy, alternating in one run, and the
// pictures' quality under each.
#include "bench/bare_video_codec.h"
#include "bench/moving_scene.h"
#include "bench/ratio_reporter.h"
#include "codec/codec_library.h"
#include "tests/codec/support/synthetic_video.h"

#include <benchmark/benchmark.h>
#include <xvid.h>

#include <cstdio>
#include <vector>

namespace {
using bench::kKeyFrameEvery;
using bench::kSceneFrames;
using bench::Scene;

// The library's routine tables are global: switched here between runs, on
// this one thread, never while anything codes.
void UseCpuFlags(unsigned flags) {
    xvid_gbl_init_t init{};
    init.version = codec::kLibraryVersion;
    init.cpu_flags = flags;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
}

// Codes and decodes the scene; the mean PSNR of the decoded pictures.
double CodeScene() {
    bench::BareEncoder encoder;
    bench::BareDecoder decoder;
    double psnrSum = 0;
    for (int n = 0; n < kSceneFrames; ++n) {
        const int length = encoder.Encode(Scene()[n].data(), n % kKeyFrameEvery == 0);
        decoder.Decode(encoder.Bitstream(), length);
        psnrSum += codec_test::Psnr(decoder.Picture(), Scene()[n].data(), kVideoFrameBytes);
    }
    return psnrSum / kSceneFrames;
}

void BM_Scene(benchmark::State& state) {
    UseCpuFlags(static_cast<unsigned>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(CodeScene());
}
BENCHMARK(BM_Scene)->Arg(codec::kLibraryCpuFlags)->Arg(codec::kDetectedCpuFlags)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double portable = reporter.Seconds("BM_Scene/" + std::to_string(codec::kLibraryCpuFlags));
    const double optimised = reporter.Seconds("BM_Scene/" + std::to_string(codec::kDetectedCpuFlags));
    UseCpuFlags(codec::kLibraryCpuFlags);
    const double portablePsnr = CodeScene();
    UseCpuFlags(codec::kDetectedCpuFlags);
    const double optimisedPsnr = CodeScene();
    if (portable > 0 && optimised > 0)
        std::printf("optimised routines / portable (encode and decode, CPU per scene): %.2f\n", optimised / portable);
    std::printf("mean PSNR of the decoded scene: portable %.2f dB, optimised %.2f dB\n", portablePsnr, optimisedPsnr);
    benchmark::Shutdown();
    return 0;
}
