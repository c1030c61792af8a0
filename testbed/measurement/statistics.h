// Small order statistics for the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace room {

// The nearest-rank percentile (0 <= fraction <= 1; 0 is the least) of the
// values; nothing for none.
std::optional<double> Percentile(std::vector<double> values, double fraction);
std::optional<double> Minimum(const std::vector<double>& values);

// Values whose percentiles a report gives, in memory taken at once and not
// grown by their number: the first kExactValues are kept, so their
// percentiles are exact; after that a percentile is the middle of the bin
// its value was counted in, 0.27 % wide (the least and greatest stay
// exact). Bins span 61 us to 128 s or dB; values beyond fall in the end bins.
class Distribution {
public:
    static constexpr size_t kExactValues = 2048;

    Distribution();
    void Add(double value);
    // As Percentile above, for every value added.
    std::optional<double> At(double fraction) const;
    std::optional<double> Least() const { return At(0); }
    std::optional<double> Greatest() const { return At(1); }

private:
    size_t count_ = 0;
    double least_ = 0;
    double greatest_ = 0;
    std::vector<double> exact_;     // the first kExactValues
    std::vector<uint32_t> counts_;  // every value, by bin
};

}  // namespace room
