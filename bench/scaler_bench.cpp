// ScaleBilinear against libswscale's bilinear scaler on the same 24-bit
// pictures scaled to 160 x 120. After the runs it prints, per source size,
// how many times faster ScaleBilinear is (swscale time / ScaleBilinear time).
#include "bench/ratio_reporter.h"
#include "capture/scaler.h"
#include "platform/media/media_types.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kTargetWidth = 160;
constexpr int kTargetHeight = 120;
const std::vector<std::pair<int, int>> kSourceSizes = {{320, 240}, {640, 480}, {176, 144}, {1280, 720}};

struct Pictures {
    Pictures(int width, int height)
        : width(width),
          height(height),
          source(static_cast<size_t>(media::Stride24(width)) * height),
          target(static_cast<size_t>(media::Stride24(kTargetWidth)) * kTargetHeight) {
        std::mt19937 random(static_cast<uint32_t>(width * height));
        for (auto& byte : source) byte = static_cast<uint8_t>(random());
    }
    int width;
    int height;
    std::vector<uint8_t> source;
    std::vector<uint8_t> target;
};

std::string SizeName(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

void BM_ScaleBilinear(benchmark::State& state) {
    Pictures pictures(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const ImageDesc src{pictures.source.data(), media::Stride24(pictures.width), pictures.width, pictures.height};
    const ImageDesc dst{pictures.target.data(), media::Stride24(kTargetWidth), kTargetWidth, kTargetHeight};
    for (auto _ : state) {
        ScaleBilinear(dst, src);
        benchmark::DoNotOptimize(pictures.target.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(SizeName(pictures.width, pictures.height));
}

void BM_SwscaleBilinear(benchmark::State& state) {
    Pictures pictures(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    SwsContext* context = sws_getContext(pictures.width, pictures.height, AV_PIX_FMT_BGR24, kTargetWidth, kTargetHeight,
                                         AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!context) {
        state.SkipWithError("no swscale context");
        return;
    }
    const uint8_t* sourcePlanes[] = {pictures.source.data()};
    const int sourceStrides[] = {media::Stride24(pictures.width)};
    uint8_t* targetPlanes[] = {pictures.target.data()};
    const int targetStrides[] = {media::Stride24(kTargetWidth)};
    for (auto _ : state) {
        sws_scale(context, sourcePlanes, sourceStrides, 0, pictures.height, targetPlanes, targetStrides);
        benchmark::DoNotOptimize(pictures.target.data());
        benchmark::ClobberMemory();
    }
    sws_freeContext(context);
    state.SetLabel(SizeName(pictures.width, pictures.height));
}

void SourceSizes(benchmark::internal::Benchmark* benchmark) {
    for (const auto& [width, height] : kSourceSizes) benchmark->Args({width, height});
}

BENCHMARK(BM_ScaleBilinear)->Apply(SourceSizes);
BENCHMARK(BM_SwscaleBilinear)->Apply(SourceSizes);

void PrintRatios(const bench::RatioReporter& reporter) {
    std::printf("\nScaleBilinear speed relative to libswscale bilinear (to %dx%d, BGR24):\n", kTargetWidth,
                kTargetHeight);
    for (const auto& [width, height] : kSourceSizes) {
        const std::string size = "/" + std::to_string(width) + "/" + std::to_string(height);
        const double ours = reporter.Seconds("BM_ScaleBilinear" + size);
        const double swscale = reporter.Seconds("BM_SwscaleBilinear" + size);
        if (ours > 0 && swscale > 0)
            std::printf("  %-10s %.2fx faster\n", SizeName(width, height).c_str(), swscale / ours);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!bench::Initialize(&argc, argv)) return 1;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
