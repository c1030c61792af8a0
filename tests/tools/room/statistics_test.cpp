// A distribution gives the figures of its values exactly while it keeps them
// all, and within half a bin (0.14 %) once it only counts them.
#include "testbed/measurement/statistics.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {
using room::Distribution;

TEST(Distribution, ExactWhileItKeepsEveryValueThenWithinABinOfTheExactFigure) {
    std::mt19937 random(7);
    std::lognormal_distribution<double> latency(-3, 0.5);  // about 50 ms, long-tailed
    Distribution distribution;
    std::vector<double> values;
    EXPECT_FALSE(distribution.At(0.5));
    const auto expectFigures = [&](double tolerance) {
        for (double fraction : {0.0, 0.01, 0.5, 0.99, 1.0}) {
            const double exact = *room::Percentile(values, fraction);
            EXPECT_NEAR(exact, *distribution.At(fraction), exact * tolerance) << fraction << " of " << values.size();
        }
        EXPECT_EQ(*room::Minimum(values), *distribution.Least());
        EXPECT_EQ(*room::Percentile(values, 1.0), *distribution.Greatest());
    };
    for (size_t n = 0; n < Distribution::kExactValues; ++n) {
        values.push_back(latency(random));
        distribution.Add(values.back());
    }
    expectFigures(0);
    for (int n = 0; n < 200000; ++n) {
        values.push_back(latency(random));
        distribution.Add(values.back());
    }
    expectFigures(0.0014);
    // Zero and below fall in the lowest bin and keep the figures in range.
    distribution.Add(0);
    values.push_back(0);
    EXPECT_EQ(0, *distribution.Least());
    EXPECT_NEAR(*room::Percentile(values, 0.5), *distribution.At(0.5), 0.0014 * *room::Percentile(values, 0.5));
}
}  // namespace
