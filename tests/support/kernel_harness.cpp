#include "support/kernel_harness.h"

#include <algorithm>
#include <cstring>
#include <sstream>

std::vector<double> RandomValues::Vector(std::size_t count) {
    std::vector<double> values(count);
    for (double& v : values) v = (*this)();
    return values;
}

void RandomValues::Fill(GuardedBuffer& buffer) {
    for (std::size_t n = 0; n < buffer.size(); ++n) buffer[n] = (*this)();
}

std::string Shape(int M, int N, int K) {
    std::ostringstream out;
    out << "M " << M << " N " << N << " K " << K;
    return out.str();
}

std::string Shape(int M, int N, int K, double alpha, double beta) {
    std::ostringstream out;
    out << Shape(M, N, K) << " alpha " << alpha << " beta " << beta;
    return out.str();
}

namespace {

// A value with every digit that tells two doubles apart.
std::string Exact(double value) {
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}

// "C(3, 5)" for a matrix laid out by `at`, "C[n]" otherwise.
std::string Element(const std::string& what, std::ptrdiff_t n, std::optional<Layout> at) {
    std::ostringstream out;
    if (!at) {
        out << what << "[" << n << "]";
    } else if (at->row_step == 1) {
        out << what << "(" << n % at->col_step << ", " << n / at->col_step << ")";
    } else {
        out << what << "(" << n / at->row_step << ", " << n % at->row_step << ")";
    }
    return out.str();
}

::testing::AssertionResult GuardsIntact(const std::string& what, const GuardedBuffer& buffer,
                                        const std::string& shape) {
    if (const auto n = buffer.FirstWrittenGuard()) {
        return ::testing::AssertionFailure()
               << shape << ": " << what << " written outside its " << buffer.size()
               << " elements, at " << what << "[" << *n << "]";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

::testing::AssertionResult SameAs(const std::string& what, const GuardedBuffer& actual,
                                  const std::vector<double>& expected, const std::string& shape,
                                  std::optional<Layout> at) {
    if (auto guards = GuardsIntact(what, actual, shape); !guards) return guards;
    for (std::size_t n = 0; n < expected.size(); ++n) {
        if (!SameValue(actual[n], expected[n])) {
            return ::testing::AssertionFailure()
                   << shape << ": " << Element(what, static_cast<std::ptrdiff_t>(n), at) << " is "
                   << Exact(actual[n]) << ", expected " << Exact(expected[n]);
        }
    }
    return ::testing::AssertionSuccess();
}

void Untouched::Watch(const std::string& what, const std::vector<double>& input) {
    inputs_.push_back({what, input.data(), input, nullptr});
}

void Untouched::Watch(const std::string& what, const GuardedBuffer& input) {
    inputs_.push_back({what, input.data(), input.Contents(), &input});
}

::testing::AssertionResult Untouched::Check(const std::string& shape) const {
    for (const Input& input : inputs_) {
        if (input.guarded) {
            auto guards = GuardsIntact(input.what, *input.guarded, shape);
            if (!guards) return guards;
        }
        for (std::size_t n = 0; n < input.before.size(); ++n) {
            if (std::memcmp(&input.before[n], &input.data[n], sizeof(double)) != 0) {
                return ::testing::AssertionFailure()
                       << shape << ": the input " << input.what << " was written, " << input.what
                       << "[" << n << "] is " << Exact(input.data[n]) << ", was "
                       << Exact(input.before[n]);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult AllOf(std::initializer_list<::testing::AssertionResult> results) {
    for (const auto& result : results) {
        if (!result) return result;
    }
    return ::testing::AssertionSuccess();
}

std::vector<double> PanelFormat(int N, int K, const double* b, std::ptrdiff_t k_step,
                                std::ptrdiff_t j_step, int width) {
    std::vector<double> packed(static_cast<std::size_t>(std::max(N, 0)) * std::max(K, 0));
    const int Nw = N - N % width;
    for (int j = 0; j < N; ++j) {
        const int j0 = j < Nw ? j - j % width : Nw;
        const int group = j < Nw ? width : N % width;
        for (int k = 0; k < K; ++k) {
            packed[static_cast<std::size_t>(K) * j0 + group * k + (j - j0)] =
                b[k * k_step + j * j_step];
        }
    }
    return packed;
}

std::vector<double> PackedAFormat(int M, int K, const double* a, std::ptrdiff_t lda) {
    std::vector<int> regions(M / 8, 8);
    if (M % 8 >= 4) regions.push_back(4);
    if (M % 4 > 0) regions.push_back(M % 4);
    std::vector<double> packed;
    int first = 0;
    for (const int rows : regions) {
        for (int k = 0; k < K; ++k) {
            for (int i = first; i < first + rows; ++i) packed.push_back(a[i + k * lda]);
        }
        first += rows;
    }
    return packed;
}

bool InVectorRegion(int i, int j, int M, int N) {
    const int M8 = M - M % 8;
    const int N4 = N - N % 4;
    return i < M8 || (M % 8 >= 4 && i < M8 + 4 && j < N4);
}

double RegionRule(int i, int j, int M, int N, double alpha, double sum, double beta, double c_old) {
    return InVectorRegion(i, j, M, N) ? VectorRule(alpha, sum, beta, c_old)
                                      : ScalarRule(alpha, sum, beta, c_old);
}
