// Descriptive statistics of timing samples and the two-sided Mann-Whitney U
// test of whether two samples come from the same distribution. Pure functions;
// values must not be NaN.
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
