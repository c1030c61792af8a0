// ScaleBilinear against libswscale's bilinear scaler on the same 24-bit
// pictures scaled to 160 x 120. After the runs it prints, per source size,
// how many times faster ScaleBilinear is (swscale time / ScaleBilinear time).
#include "capture/scaler.h"
#include "platform/media/media_types.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kTargetWidth = 160;
constexpr int kTargetHeight = 120;
const std::vector<std::pair<int, int>> kSourceSizes = {{320, 240}, {640, 480}, {176, 144}, {1280, 720}};

struct Pictures {
    Pictures(int width, int height)
        : width(width), height(height), source(static_cast<size_t>(media::Stride24(width)) * height),
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
    SwsContext* context = sws_getContext(pictures.width, pictures.height, AV_PIX_FMT_BGR24, kTargetWidth,
                                         kTargetHeight, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
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

// Keeps every run's time per iteration, keyed by scaler and source size.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool ours = run.benchmark_name().rfind("BM_ScaleBilinear", 0) == 0;
            (ours ? m_ours : m_swscale)[run.report_label] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\nScaleBilinear speed relative to libswscale bilinear (to %dx%d, BGR24):\n", kTargetWidth,
                    kTargetHeight);
        for (const auto& [size, ours] : m_ours) {
            const auto other = m_swscale.find(size);
            if (other == m_swscale.end() || ours <= 0) continue;
            std::printf("  %-10s %.2fx faster\n", size.c_str(), other->second / ours);
        }
    }

private:
    std::map<std::string, double> m_ours;
    std::map<std::string, double> m_swscale;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
