#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {
double MedianOfSorted(const std::vector<double>& sorted) {
    const std::size_t middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

// The plain mean, corrected by the mean of the residuals (a second pass).
double MeanOf(const std::vector<double>& values) {
    const double count = static_cast<double>(values.size());
    double sum = 0;
    for (const double value : values) sum += value;
    const double first = sum / count;
    double residuals = 0;
    for (const double value : values) residuals += value - first;
    return first + residuals / count;
}

// Sum of squared deviations from `mean`, less the share due to rounding in the
// mean (the corrected two-pass form).
double SumOfSquaredDeviations(const std::vector<double>& values, double mean) {
    double squares = 0, deviations = 0;
    for (const double value : values) {
        const double deviation = value - mean;
        squares += deviation * deviation;
        deviations += deviation;
    }
    return std::max(0.0, squares - deviations * deviations / static_cast<double>(values.size()));
}

struct Ranking {
    double first_rank_sum = 0;  // sum of the (mid-)ranks of the first sample
    double tie_term = 0;        // sum over groups of t tied values of t^3 - t
};

Ranking RankTogether(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<std::pair<double, bool>> combined;  // value, from the first sample
    combined.reserve(a.size() + b.size());
    for (const double value : a) combined.emplace_back(value, true);
    for (const double value : b) combined.emplace_back(value, false);
    std::sort(combined.begin(), combined.end(),
              [](const auto& x, const auto& y) { return x.first < y.first; });
    Ranking ranking;
    for (std::size_t begin = 0; begin < combined.size();) {
        std::size_t end = begin + 1;
        while (end < combined.size() && combined[end].first == combined[begin].first) ++end;
        const double mid_rank = static_cast<double>(begin + 1 + end) / 2;  // ranks begin+1 .. end
        const double tied = static_cast<double>(end - begin);
        ranking.tie_term += tied * tied * tied - tied;
        for (std::size_t i = begin; i < end; ++i) {
            if (combined[i].second) ranking.first_rank_sum += mid_rank;
        }
        begin = end;
    }
    return ranking;
}

// For m values of the first sample and n of the second, all distinct: the
// number of orderings that give the first sample each U from 0 to m n.
std::vector<double> OrderingsByU(std::size_t m, std::size_t n) {
    // counts[j][u] for i first-sample values and j second-sample values.
    std::vector<std::vector<double>> counts(n + 1, std::vector<double>{1.0});  // i = 0
    for (std::size_t i = 1; i <= m; ++i) {
        std::vector<std::vector<double>> next(n + 1);
        next[0] = {1.0};
        for (std::size_t j = 1; j <= n; ++j) {
            next[j].assign(i * j + 1, 0.0);
            // The largest value is of the second sample: U unchanged.
            for (std::size_t u = 0; u < next[j - 1].size(); ++u) next[j][u] += next[j - 1][u];
            // The largest value is of the first sample: it exceeds all j others.
            for (std::size_t u = 0; u < counts[j].size(); ++u) next[j][u + j] += counts[j][u];
        }
        counts = std::move(next);
    }
    return counts[n];
}

double ExactTwoSidedP(double u, std::size_t m, std::size_t n) {
    const std::vector<double> orderings = OrderingsByU(m, n);
    const auto observed = static_cast<std::size_t>(std::lround(u));
    double total = 0, at_most = 0, at_least = 0;
    for (std::size_t k = 0; k < orderings.size(); ++k) {
        total += orderings[k];
        if (k <= observed) at_most += orderings[k];
        if (k >= observed) at_least += orderings[k];
    }
    return std::min(1.0, 2 * std::min(at_most, at_least) / total);
}

double NormalTwoSidedP(double u, std::size_t m, std::size_t n, double tie_term) {
    const double m_n = static_cast<double>(m) * static_cast<double>(n);
    const double total = static_cast<double>(m + n);
    const double variance = m_n / 12 * ((total + 1) - tie_term / (total * (total - 1)));
    if (!(variance > 0)) return 1;  // every value tied
    const double distance = std::max(0.0, std::abs(u - m_n / 2) - 0.5);
    return std::min(1.0, std::erfc(distance / std::sqrt(variance) / std::sqrt(2.0)));
}
}  // namespace

SampleStatistics Describe(std::vector<double> values) {
    SampleStatistics s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.min = values.front();
    s.median = MedianOfSorted(values);
    s.mean = MeanOf(values);
    if (s.count < 2) return s;
    s.stddev = std::sqrt(SumOfSquaredDeviations(values, s.mean) / static_cast<double>(s.count - 1));
    if (s.mean != 0) s.cv = s.stddev / s.mean;
    return s;
}

double Median(std::vector<double> values) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    return MedianOfSorted(values);
}

RankTest MannWhitneyU(const std::vector<double>& a, const std::vector<double>& b) {
    RankTest test;
    if (a.empty() || b.empty()) return test;
    const std::size_t m = a.size(), n = b.size();
    const Ranking ranking = RankTogether(a, b);
    test.u = ranking.first_rank_sum - static_cast<double>(m * (m + 1)) / 2;
    test.exact = ranking.tie_term == 0 && m + n <= kExactRankTestLimit;
    test.p_value =
        test.exact ? ExactTwoSidedP(test.u, m, n) : NormalTwoSidedP(test.u, m, n, ranking.tie_term);
    return test;
}

double SmallestRankTestP(std::size_t m, std::size_t n) {
    if (m == 0 || n == 0) return 1;
    // U = 0: every value of the first sample below every value of the second.
    return m + n <= kExactRankTestLimit ? ExactTwoSidedP(0, m, n) : NormalTwoSidedP(0, m, n, 0);
}

std::size_t RankTestRunsNeeded(double significance) {
    if (!(significance > 0)) return 0;
    // The smallest p falls as the counts grow, to 0 once erfc underflows.
    std::size_t k = 1;
    while (!(SmallestRankTestP(k, k) < significance)) ++k;
    return k;
}

double GeometricMean(const std::vector<double>& values) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    double logs = 0;
    for (const double value : values) {
        if (!(value > 0) || !std::isfinite(value)) return std::numeric_limits<double>::quiet_NaN();
        logs += std::log(value);
    }
    return std::exp(logs / static_cast<double>(values.size()));
}
