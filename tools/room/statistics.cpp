#include "tools/room/statistics.h"

#include <algorithm>
#include <cmath>

namespace room {

std::optional<double> Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(fraction * static_cast<double>(values.size()));
    const size_t index = static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(values.size()))) - 1;
    return values[index];
}

std::optional<double> Minimum(const std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    return *std::min_element(values.begin(), values.end());
}

}  // namespace room
