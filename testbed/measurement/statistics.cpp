#include "testbed/measurement/statistics.h"

#include <algorithm>
#include <cmath>

namespace room {
namespace {
// Bins of 2^(1/256), each 0.27 % wide, from 2^-14 to 2^7.
constexpr double kBinsPerOctave = 256;
constexpr int kLowestOctave = -14;
constexpr int kOctaves = 21;
constexpr size_t kBins = static_cast<size_t>(kOctaves * kBinsPerOctave);

size_t BinOf(double value) {
    if (!(value > 0)) return 0;
    const double bin = std::floor((std::log2(value) - kLowestOctave) * kBinsPerOctave);
    return static_cast<size_t>(std::clamp(bin, 0.0, static_cast<double>(kBins - 1)));
}

double MiddleOf(size_t bin) { return std::exp2((static_cast<double>(bin) + 0.5) / kBinsPerOctave + kLowestOctave); }

// The nearest rank (1..count) of `fraction`.
size_t RankOf(double fraction, size_t count) {
    const double rank = std::ceil(fraction * static_cast<double>(count));
    return static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(count)));
}
}  // namespace

std::optional<double> Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    return values[RankOf(fraction, values.size()) - 1];
}

std::optional<double> Minimum(const std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    return *std::min_element(values.begin(), values.end());
}

Distribution::Distribution() : counts_(kBins) { exact_.reserve(kExactValues); }

void Distribution::Add(double value) {
    least_ = count_ == 0 ? value : std::min(least_, value);
    greatest_ = count_ == 0 ? value : std::max(greatest_, value);
    ++count_;
    ++counts_[BinOf(value)];
    if (count_ <= kExactValues) exact_.push_back(value);
}

std::optional<double> Distribution::At(double fraction) const {
    if (count_ == 0) return std::nullopt;
    if (count_ <= kExactValues) return Percentile(exact_, fraction);
    const size_t rank = RankOf(fraction, count_);
    if (rank == 1) return least_;
    if (rank == count_) return greatest_;
    size_t below = 0;
    for (size_t bin = 0; bin < kBins; ++bin) {
        below += counts_[bin];
        if (below >= rank) return std::clamp(MiddleOf(bin), least_, greatest_);
    }
    return greatest_;
}

}  // namespace room
