// The harness of the kernel suites: a base fixture, seeded random operands,
// the packed formats and write-back regions of Tavrel_8x4, and checks that
// compare outputs bit for bit and name the shape and the first element that
// differs. The scalar sums and write-back rules are in gemm_reference.h.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/gemm_reference.h"
#include "support/guarded_buffer.h"

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Uniform values in [-1, 1) from a fixed seed, so that every run of a test
// draws the same operands.
class RandomValues {
public:
    explicit RandomValues(std::uint64_t seed) : engine_(seed) {}
    double operator()() { return value_(engine_); }
    std::vector<double> Vector(std::size_t count);
    void Fill(GuardedBuffer& buffer);
    // A whole number from 0 to `most`.
    int UpTo(int most) { return std::uniform_int_distribution<int>(0, most)(engine_); }

private:
    std::mt19937_64 engine_;
    std::uniform_real_distribution<double> value_{-1.0, 1.0};
};

// The base of a kernel suite: each test skips where the library's own test
// `Runs` (isAVXenable) says its kernels cannot run, and draws its operands
// from `random_`.
template <int (*Runs)()>
class KernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Runs() == 0) GTEST_SKIP() << "no AVX on this processor or operating system";
    }

    RandomValues random_{2024};  // any fixed seed: failures repeat
};

// Where element (i, j) of a matrix lies in its buffer: i*row_step + j*col_step.
struct Layout {
    std::ptrdiff_t row_step, col_step;
    std::ptrdiff_t operator()(int i, int j) const { return i * row_step + j * col_step; }
};
inline Layout ColumnMajor(std::ptrdiff_t ld) { return {1, ld}; }
inline Layout RowMajor(std::ptrdiff_t ld) { return {ld, 1}; }

// Calls element(i, j, value) for every i < rows, j < cols of the matrix at
// `data`, column by column.
template <class Element>
void ForEachElement(double* data, Layout at, int rows, int cols, Element element) {
    for (int j = 0; j < cols; ++j) {
        for (int i = 0; i < rows; ++i) element(i, j, data[at(i, j)]);
    }
}

// "M 13 N 7 K 3", and with the factors "M 13 N 7 K 3 alpha 2.5 beta -1.5".
std::string Shape(int M, int N, int K);
std::string Shape(int M, int N, int K, double alpha, double beta);

// --- Checks -----------------------------------------------------------------
// Each names the shape and, on failure, what differs first.

// The guards of `actual` intact and every element bit for bit `expected`
// (any NaN matches any NaN). The first difference is named as what(i, j)
// when the buffer holds a matrix laid out by `at`, else as what[n].
::testing::AssertionResult SameAs(const std::string& what, const GuardedBuffer& actual,
                                  const std::vector<double>& expected, const std::string& shape,
                                  std::optional<Layout> at = std::nullopt);

// Read-only inputs: their bits when watched, compared bitwise (NaN payloads
// included) by Check after the call; guarded buffers also keep their guards.
class Untouched {
public:
    void Watch(const std::string& what, const std::vector<double>& input);
    void Watch(const std::string& what, const GuardedBuffer& input);
    ::testing::AssertionResult Check(const std::string& shape) const;

private:
    struct Input {
        std::string what;
        const double* data;
        std::vector<double> before;
        const GuardedBuffer* guarded;
    };
    std::vector<Input> inputs_;
};

// The first failure among `results`, else success.
::testing::AssertionResult AllOf(std::initializer_list<::testing::AssertionResult> results);

// --- Reference formats and regions of Tavrel_8x4 -----------------------------

// The panel format of N columns of B at depth K, B(k, j) = b[k*k_step + j*j_step],
// in groups of `width` columns: whole group g (columns width*g ..) holds
// B(k, width*g + c) at width*K*g + width*k + c; the tail of d = N % width
// columns from Nw = N - d holds B(k, Nw + c) at K*Nw + d*k + c. Width 4 is
// the BB panel of Tavrel_8x4 (and, for whole groups, of Tavrel).
std::vector<double> PanelFormat(int N, int K, const double* b, std::ptrdiff_t k_step,
                                std::ptrdiff_t j_step, int width = 4);

// A (M x K, A(i, k) = a[i + k*lda]) in the packed-A format: the 8-row blocks,
// then the 4-row block (M % 8 >= 4), then the strip of M % 4 rows, each
// region k-step by k-step with its rows side by side.
std::vector<double> PackedAFormat(int M, int K, const double* a, std::ptrdiff_t lda);

// The region rule of the 13-argument kernel and its packed half: element
// (i, j) of an M x N product is written by the vector rule in the 8-row
// blocks of every column and in the 4-row block of the whole 4-column
// groups, by the scalar rule elsewhere (the strip and the tail columns).
bool InVectorRegion(int i, int j, int M, int N);
double RegionRule(int i, int j, int M, int N, double alpha, double sum, double beta, double c_old);
