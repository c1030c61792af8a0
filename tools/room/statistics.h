// Small order statistics for the report.
#pragma once

#include <optional>
#include <vector>

namespace room {

// The nearest-rank percentile (0 < fraction <= 1) of the values; nothing for none.
std::optional<double> Percentile(std::vector<double> values, double fraction);
std::optional<double> Minimum(const std::vector<double>& values);

}  // namespace room
