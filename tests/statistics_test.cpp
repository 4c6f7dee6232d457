#include <gtest/gtest.h>

#include <cmath>

#include "statistics.h"

TEST(Statistics, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(Median({5, 1, 3}), 3);
    EXPECT_DOUBLE_EQ(Median({4, 1, 3, 2}), 2.5);
    EXPECT_DOUBLE_EQ(Median({7}), 7);
    EXPECT_TRUE(std::isnan(Median({})));
}

TEST(Statistics, DescribeGivesSampleStandardDeviation) {
    const SampleStatistics s = Describe({9, 2, 4, 4, 5, 4, 5, 7});
    EXPECT_EQ(s.count, 8u);
    EXPECT_DOUBLE_EQ(s.min, 2);
    EXPECT_DOUBLE_EQ(s.median, 4.5);
    EXPECT_DOUBLE_EQ(s.mean, 5);
    EXPECT_NEAR(s.stddev, std::sqrt(32.0 / 7), 1e-15);  // n - 1, not n (which gives 2)
    EXPECT_NEAR(s.cv, std::sqrt(32.0 / 7) / 5, 1e-15);
}

TEST(Statistics, DescribeKeepsPrecisionFarFromZero) {
    // A one-pass sum of squares loses every digit of this variance (30).
    const SampleStatistics s = Describe({1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16});
    EXPECT_DOUBLE_EQ(s.mean, 1e9 + 10);
    EXPECT_NEAR(s.stddev, std::sqrt(30.0), 1e-9);
}

TEST(Statistics, DescribeOfEmptySingleAndZeroMeanSamples) {
    const SampleStatistics empty = Describe({});
    EXPECT_EQ(empty.count, 0u);
    EXPECT_EQ(empty.mean, 0);
    EXPECT_EQ(empty.stddev, 0);

    const SampleStatistics single = Describe({0.25});
    EXPECT_EQ(single.count, 1u);
    EXPECT_EQ(single.min, 0.25);
    EXPECT_EQ(single.median, 0.25);
    EXPECT_EQ(single.mean, 0.25);
    EXPECT_EQ(single.stddev, 0);
    EXPECT_EQ(single.cv, 0);

    const SampleStatistics balanced = Describe({-1, 1});
    EXPECT_DOUBLE_EQ(balanced.stddev, std::sqrt(2.0));
    EXPECT_EQ(balanced.cv, 0);
}

TEST(MannWhitney, ExactDistributionWithoutTies) {
    // Fully separated 5 against 5: 2 of the C(10, 5) = 252 orderings are as extreme.
    const RankTest separated = MannWhitneyU({1, 2, 3, 4, 5}, {6, 7, 8, 9, 10});
    EXPECT_TRUE(separated.exact);
    EXPECT_EQ(separated.u, 0);
    EXPECT_NEAR(separated.p_value, 2.0 / 252, 1e-15);
    const RankTest reversed = MannWhitneyU({6, 7, 8, 9, 10}, {1, 2, 3, 4, 5});
    EXPECT_EQ(reversed.u, 25);
    EXPECT_NEAR(reversed.p_value, 2.0 / 252, 1e-15);

    // 4 against 5 interleaved, U = 4: 24 of the 126 orderings have U <= 4 or U >= 16.
    const RankTest mixed = MannWhitneyU({1.1, 2.5, 3.0, 4.7}, {2.0, 3.5, 5.1, 6.2, 7.0});
    EXPECT_TRUE(mixed.exact);
    EXPECT_EQ(mixed.u, 4);
    EXPECT_NEAR(mixed.p_value, 24.0 / 126, 1e-15);

    // 3 against 3 can never reach 0.05: the most extreme ordering has p = 2/20.
    EXPECT_NEAR(MannWhitneyU({1, 2, 3}, {4, 5, 6}).p_value, 0.1, 1e-15);
    // U at the centre of an odd-width distribution (U = 2 of 0..4) gives p 1.
    EXPECT_EQ(MannWhitneyU({1, 4}, {2, 3}).p_value, 1);
}

TEST(MannWhitney, NormalApproximationWithTiesAndForLargeSamples) {
    // Ties 2 (x2), 3 (x2), 4 (x2), 5 (x3): sum t^3 - t = 42. U = 5 against a
    // mean of 21; variance 42/12 * (14 - 42/156), z = (21 - 5 - 0.5) / sqrt(variance).
    const RankTest tied = MannWhitneyU({1, 2, 2, 3, 4, 5}, {3, 4, 5, 5, 6, 7, 8});
    EXPECT_FALSE(tied.exact);
    EXPECT_EQ(tied.u, 5);
    EXPECT_NEAR(tied.p_value, 0.0253590421663505, 1e-12);

    // 21 against 21 without ties is past the exact limit.
    std::vector<double> evens, shifted;
    for (int i = 0; i < 21; ++i) {
        evens.push_back(2 * i);
        shifted.push_back(2 * i + 7);
    }
    const RankTest large = MannWhitneyU(evens, shifted);
    EXPECT_FALSE(large.exact);
    EXPECT_EQ(large.u, 153);
    EXPECT_NEAR(large.p_value, 0.0919047543287993, 1e-12);
}

TEST(MannWhitney, IdenticalOrEmptySamplesShowNoDifference) {
    const RankTest identical = MannWhitneyU({0.5, 0.7, 0.9}, {0.9, 0.5, 0.7});
    EXPECT_EQ(identical.u, 4.5);
    EXPECT_EQ(identical.p_value, 1);
    EXPECT_EQ(MannWhitneyU({2, 2, 2}, {2, 2}).p_value, 1);  // all tied: no variance
    EXPECT_EQ(MannWhitneyU({}, {1, 2, 3}).p_value, 1);
    EXPECT_EQ(MannWhitneyU({1, 2, 3}, {}).p_value, 1);
}

// The smallest p a two-sided rank test can give m against n values (both
// orders of the samples apart: 2 / C(m+n, m)), the equal count a side a
// verdict needs at a level, and the geometric mean of ratios.
TEST(MannWhitney, TheSmallestPAndTheRunsAVerdictNeeds) {
    EXPECT_DOUBLE_EQ(SmallestRankTestP(3, 3), 0.1);
    EXPECT_DOUBLE_EQ(SmallestRankTestP(3, 5), 2.0 / 56);
    EXPECT_DOUBLE_EQ(SmallestRankTestP(0, 5), 1.0);
    EXPECT_EQ(RankTestRunsNeeded(0.05), 4u);
    EXPECT_EQ(RankTestRunsNeeded(0.01), 5u);
    EXPECT_DOUBLE_EQ(GeometricMean({0.5, 2, 4}), std::cbrt(4.0));
    EXPECT_TRUE(std::isnan(GeometricMean({})));
    EXPECT_TRUE(std::isnan(GeometricMean({1, 0})));
}
