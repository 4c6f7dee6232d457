// Descriptive statistics of timing samples, the two-sided Mann-Whitney U
// test of whether two samples come from the same distribution, and the
// geometric mean of ratios. Pure functions; values must not be NaN.
#pragma once

#include <cstddef>
#include <vector>

struct SampleStatistics {
    std::size_t count = 0;
    double min = 0, median = 0, mean = 0;
    double stddev = 0;  // sample standard deviation (n - 1); 0 for fewer than 2 values
    double cv = 0;      // stddev / mean; 0 when mean is 0 or count < 2
};

// All fields 0 (count 0) when `values` is empty.
SampleStatistics Describe(std::vector<double> values);

// The middle value, or the mean of the middle two for even counts; NaN when empty.
double Median(std::vector<double> values);

struct RankTest {
    double u = 0;        // U of the first sample: pairs (a, b) with a > b, ties counting 1/2
    double p_value = 1;  // two-sided
    bool exact = false;  // from the exact distribution rather than the normal approximation
};

// Two-sided Mann-Whitney U test. Exact distribution of U when there are no
// ties and n1 + n2 <= kExactRankTestLimit; otherwise the normal approximation
// with tie and continuity corrections. p_value 1 when either sample is empty.
RankTest MannWhitneyU(const std::vector<double>& a, const std::vector<double>& b);

constexpr std::size_t kExactRankTestLimit = 40;

// The smallest p MannWhitneyU gives for samples of m and n values: the two
// fully apart, without ties (2 / C(m + n, m) under the exact distribution).
// When it is not below the significance level, no samples of these sizes can
// differ significantly. Ties can take the normal approximation lower, but at
// such sizes it is too rough to be trusted there. 1 when m or n is 0.
double SmallestRankTestP(std::size_t m, std::size_t n);

// The smallest k for which k values against k can give p below
// `significance`; 0 when no count can (significance not above 0).
std::size_t RankTestRunsNeeded(double significance);

// The n-th root of the product of n values, the mean of ratios that treats a
// halving and a doubling alike; NaN when empty or some value is not positive
// and finite.
double GeometricMean(const std::vector<double>& values);
