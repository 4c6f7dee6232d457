// The kernel variants of Tavrel_8x4 bit for bit against scalar references in
// each kernel's summation order: the row-by-row 11-argument
// tavrel_AVX_8x4x16_AMD (four depth lanes per element), tavrel_AVX_8x4_K1
// (fed from Pack_BB) and the 32-deep tavrel_AVX_8x4x32_AMD (increasing k).
// Rows, columns and depth steps that a kernel must leave out hold NaN, and
// guard values show that nothing outside the whole blocks is written.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Tavrel_8x4.h"
#include "support/gemm_reference.h"
#include "support/guarded_buffer.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kGuardValue = GuardedBuffer::kGuardValue;

// Index of the first element where `actual` differs from `expected`, or -1.
std::ptrdiff_t FirstDifference(const double* actual, const std::vector<double>& expected) {
    for (std::size_t n = 0; n < expected.size(); ++n) {
        if (!SameValue(actual[n], expected[n])) return static_cast<std::ptrdiff_t>(n);
    }
    return -1;
}

// Bitwise equality of two buffers, NaN payloads included (read-only inputs).
bool Unchanged(const std::vector<double>& before, const double* now) {
    return before.empty() || std::memcmp(before.data(), now, before.size() * sizeof(double)) == 0;
}

std::string Shape(int M, int N, int K) {
    std::ostringstream out;
    out << "M " << M << " N " << N << " K " << K;
    return out.str();
}

// Checks the outputs of one call: guards, every element against `expected`.
::testing::AssertionResult SameAs(const std::string& what, const GuardedBuffer& actual,
                                  const std::vector<double>& expected, const std::string& shape) {
    if (!actual.GuardsIntact()) {
        return ::testing::AssertionFailure() << shape << ": " << what << " guard written";
    }
    const std::ptrdiff_t n = FirstDifference(actual.data(), expected);
    if (n >= 0) {
        return ::testing::AssertionFailure() << shape << ": " << what << "[" << n << "] is "
                                             << actual[n] << ", expected " << expected[n];
    }
    return ::testing::AssertionSuccess();
}

class KernelVariants : public ::testing::Test {
protected:
    void SetUp() override {
        if (!isAVXenable()) GTEST_SKIP() << "no AVX on this processor or operating system";
    }

    double Random() { return value_(generator_); }
    void FillRandom(GuardedBuffer& buffer) {
        for (std::size_t n = 0; n < buffer.size(); ++n) buffer[n] = Random();
    }

    std::mt19937_64 generator_{6};
    std::uniform_real_distribution<double> value_{-1.0, 1.0};
};

// --- 11-argument tavrel_AVX_8x4x16_AMD -------------------------------------

struct DirectCase {
    int M, N, K;
    double alpha = 2.5, beta = -1.5;
    int extra = 3;  // lda - K, ldb - K and ldc - N
};

class DirectKernel : public KernelVariants {
protected:
    // Random A, B and C (C from `fill`), NaN in every row, column and depth
    // step that the kernel must leave out and in the stride gaps.
    template <typename Fill>
    ::testing::AssertionResult Check(const DirectCase& c, Fill fill) {
        const int M4 = c.M - c.M % 4, N2 = c.N - c.N % 2, K4 = c.K - c.K % 4;
        const int lda = c.K + c.extra, ldb = c.K + c.extra, ldc = c.N + c.extra;
        std::vector<double> a(static_cast<std::size_t>(c.M) * lda);
        for (int i = 0; i < c.M; ++i) {
            for (int k = 0; k < lda; ++k) a[i * lda + k] = i < M4 && k < K4 ? Random() : kNaN;
        }
        std::vector<double> b(static_cast<std::size_t>(c.N) * ldb);
        for (int j = 0; j < c.N; ++j) {
            for (int k = 0; k < ldb; ++k) b[j * ldb + k] = j < N2 && k < K4 ? Random() : kNaN;
        }
        GuardedBuffer cbuf(static_cast<std::size_t>(c.M) * ldc);
        for (int i = 0; i < c.M; ++i) {
            for (int j = 0; j < c.N; ++j) cbuf[i * ldc + j] = fill(i, j);
        }
        std::vector<double> expected = cbuf.Contents();
        for (int i = 0; i < M4; ++i) {
            for (int j = 0; j < N2; ++j) {
                const double s = FourLaneDot(K4, a.data() + i * lda, b.data() + j * ldb);
                double& e = expected[i * ldc + j];
                e = ScalarRule(c.alpha, s, c.beta, e);
            }
        }
        const std::vector<double> a_before = a, b_before = b;

        tavrel_AVX_8x4x16_AMD(c.M, c.N, c.K, c.alpha, a.data(), lda, b.data(), ldb, c.beta,
                              cbuf.data(), ldc);

        const std::string shape = Shape(c.M, c.N, c.K);
        if (!Unchanged(a_before, a.data()) || !Unchanged(b_before, b.data())) {
            return ::testing::AssertionFailure() << shape << ": A or B written";
        }
        return SameAs("C", cbuf, expected, shape);
    }

    ::testing::AssertionResult Check(const DirectCase& c) {
        return Check(c, [this](int, int) { return Random(); });
    }
};

TEST_F(DirectKernel, EveryShapeUpTo13ComputesOnlyWholeBlocks) {
    for (int M = 0; M <= 13; ++M) {
        for (int N = 0; N <= 9; ++N) {
            for (int K = 0; K <= 13; ++K) ASSERT_TRUE(Check({M, N, K}));
        }
    }
}

TEST_F(DirectKernel, LargerShapesAndStrides) {
    for (const int M : {4, 37, 176}) {
        for (const int N : {2, 9, 64}) {
            for (const int K : {4, 31, 176}) {
                ASSERT_TRUE(Check({M, N, K}));
                ASSERT_TRUE(Check({M, N, K, 1.0, 1.0, 40}));
            }
        }
    }
}

TEST_F(DirectKernel, AlphaAndBetaAlwaysCombineWithTheOldC) {
    const double factors[] = {1.0, 0.0, -0.0, 2.5, kNaN};
    for (const double alpha : factors) {
        for (const double beta : factors) {
            for (const int K : {0, 3, 4, 9}) {
                ASSERT_TRUE(Check({7, 5, K, alpha, beta}));
                ASSERT_TRUE(Check({8, 4, K, alpha, beta}));
            }
        }
    }
}

// C is always read: beta 0 times a NaN or an infinity of C gives NaN.
TEST_F(DirectKernel, BetaZeroKeepsNanAndInfinityOfC) {
    const auto special = [](int i, int j) { return (i + j) % 2 ? kNaN : kInf; };
    for (const double beta : {0.0, -0.0}) {
        for (const int K : {0, 2, 8}) ASSERT_TRUE(Check({9, 5, K, 1.0, beta}, special));
    }
    std::vector<double> a(4 * 4, 1.0), b(2 * 4, 1.0), c(4 * 2, kNaN);
    c[3] = -kInf;
    tavrel_AVX_8x4x16_AMD(4, 2, 4, 1.0, a.data(), 4, b.data(), 4, 0.0, c.data(), 2);
    for (const double v : c) EXPECT_TRUE(std::isnan(v));
}

// Lane l holds the products of the depth steps l, l+4: the lanes cancel the
// large term before they meet, which the plain increasing-k sum cannot.
TEST_F(DirectKernel, SumsFourDepthLanesBeforeAddingThem) {
    const int K = 8;
    std::vector<double> a(4 * K, 1.0), b(2 * K, 0.0), c(4 * 2, 0.0);
    for (int j = 0; j < 2; ++j) {
        b[j * K + 0] = 1e16;
        b[j * K + 1] = b[j * K + 2] = b[j * K + 3] = 1.0;
        b[j * K + 4] = -1e16;
    }
    tavrel_AVX_8x4x16_AMD(4, 2, K, 1.0, a.data(), K, b.data(), K, 1.0, c.data(), 2);
    EXPECT_EQ(OrderedDot(K, a.data(), 1, b.data(), 1), 0.0);  // increasing k loses the ones
    for (const double v : c) EXPECT_EQ(v, 3.0);
}

TEST_F(DirectKernel, NegativeSizesWriteNothing) {
    GuardedBuffer c(64, 7.0);
    const std::vector<double> before = c.Contents();
    std::vector<double> a(64, 1.0), b(64, 1.0);
    for (const auto& [M, N, K] : {std::array<int, 3>{-4, 4, 4}, {4, -2, 4}, {4, 4, -4}}) {
        tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a.data(), 8, b.data(), 8, 1.0, c.data(), 8);
    }
    EXPECT_TRUE(SameAs("C", c, before, "negative sizes"));
}

// --- tavrel_AVX_8x4_K1 ------------------------------------------------------

class K1Kernel : public KernelVariants {
protected:
    // A(i,k) = src[k*n + i] packed by Pack_BB into Apack; B(k,j) at B[k*n + j].
    // n must be a multiple of 4 (aligned rows), so all n rows are computed.
    ::testing::AssertionResult Check(int n, int K) {
        const int ncol = n - n % 8;
        const std::size_t area = static_cast<std::size_t>(n) * K;
        GuardedBuffer src(area), b(area), apack(4 * area);
        FillRandom(src);
        FillRandom(b);
        Pack_BB(n, K, src.data(), apack.data());
        GuardedBuffer bpack(static_cast<std::size_t>(ncol) * K), c(static_cast<std::size_t>(n) * n);
        FillRandom(c);

        std::vector<double> expected_c = c.Contents();
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < ncol; ++j) {
                expected_c[i * n + j] = OrderedDot(K, src.data() + i, n, b.data() + j, n);
            }
        }
        std::vector<double> expected_bpack(bpack.size());
        for (int g = 0; g < ncol / 8; ++g) {
            for (int k = 0; k < K; ++k) {
                for (int col = 0; col < 8; ++col) {
                    expected_bpack[8 * K * g + 8 * k + col] = b[k * n + 8 * g + col];
                }
            }
        }
        const std::vector<double> b_before = b.Contents(), apack_before = apack.Contents();

        tavrel_AVX_8x4_K1(-1, n, K, b.data(), nullptr, c.data(), bpack.data(), apack.data());

        const std::string shape = Shape(n, n, K);
        if (!Unchanged(b_before, b.data()) || !Unchanged(apack_before, apack.data())) {
            return ::testing::AssertionFailure() << shape << ": B or Apack written";
        }
        const auto c_ok = SameAs("C", c, expected_c, shape);
        return c_ok ? SameAs("Bpack", bpack, expected_bpack, shape) : c_ok;
    }
};

TEST_F(K1Kernel, OrdersAndDepthsMatchTheIncreasingKSum) {
    for (const int n : {0, 4, 8, 12, 16, 20, 24, 40}) {
        for (int K = 0; K <= 18; ++K) ASSERT_TRUE(Check(n, K));
    }
    for (const int K : {31, 64, 65}) ASSERT_TRUE(Check(64, K));
}

// n 12: one 8-column panel; columns 8..11 keep their values. n 4: no panel,
// nothing is written at all.
TEST_F(K1Kernel, WritesOnlyWholeEightColumnPanels) {
    const int K = 5;
    for (const int n : {4, 12}) {
        GuardedBuffer src(n * K, 1.0), b(n * K, 1.0), apack(4 * n * K), bpack(8 * K),
            c(n * n, kNaN);
        Pack_BB(n, K, src.data(), apack.data());
        tavrel_AVX_8x4_K1(0, n, K, b.data(), nullptr, c.data(), bpack.data(), apack.data());
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                if (j < 8 && n >= 8) {
                    EXPECT_EQ(c[i * n + j], K) << i << ", " << j;
                } else {
                    EXPECT_TRUE(std::isnan(c[i * n + j])) << i << ", " << j;
                }
            }
        }
        const double bpack_first = n >= 8 ? 1.0 : kGuardValue;
        EXPECT_EQ(bpack[0], bpack_first);
        EXPECT_TRUE(bpack.GuardsIntact());
    }
}

TEST_F(K1Kernel, NegativeSizesWriteNothing) {
    GuardedBuffer b(64, 1.0), apack(256, 1.0), bpack(64, 3.0), c(64, 7.0);
    const std::vector<double> c_before = c.Contents(), bpack_before = bpack.Contents();
    tavrel_AVX_8x4_K1(0, -8, 8, b.data(), nullptr, c.data(), bpack.data(), apack.data());
    tavrel_AVX_8x4_K1(0, 8, -1, b.data(), nullptr, c.data(), bpack.data(), apack.data());
    EXPECT_TRUE(SameAs("C", c, c_before, "negative sizes"));
    EXPECT_TRUE(SameAs("Bpack", bpack, bpack_before, "negative sizes"));
}

// --- tavrel_AVX_8x4x32_AMD --------------------------------------------------

class Kernel32Deep : public KernelVariants {
protected:
    // Dense A (M x K) and C (M x N) with leading dimension M; the tail panel
    // of BB and A's rows below the 8-row blocks hold NaN. alpha, beta, lda,
    // B, ldb and ldc get values that would show if they were used.
    ::testing::AssertionResult Check(int M, int N, int K) {
        const int M8 = M - M % 8, N4 = N - N % 4;
        GuardedBuffer a(static_cast<std::size_t>(M) * K), c(static_cast<std::size_t>(M) * N);
        for (int k = 0; k < K; ++k) {
            for (int i = 0; i < M; ++i) a[i + k * M] = i < M8 ? Random() : kNaN;
        }
        FillRandom(c);
        std::vector<double> b(static_cast<std::size_t>(K) * N);  // B(k,j) at j*K + k
        for (double& v : b) v = Random();
        std::vector<double> bb(b.size(), kNaN);
        for (int j = 0; j < N4; ++j) {
            for (int k = 0; k < K; ++k) bb[K * (j - j % 4) + 4 * k + j % 4] = b[j * K + k];
        }
        GuardedBuffer aa(static_cast<std::size_t>(M8) * K);

        std::vector<double> expected_c = c.Contents();
        for (int j = 0; j < N4; ++j) {
            for (int i = 0; i < M8; ++i) {
                expected_c[i + j * M] = OrderedDot(K, a.data() + i, M, b.data() + j * K, 1);
            }
        }
        std::vector<double> expected_aa(aa.size());
        for (int i = 0; i < M8; ++i) {
            for (int k = 0; k < K; ++k) expected_aa[8 * K * (i / 8) + 8 * k + i % 8] = a[i + k * M];
        }
        const std::vector<double> a_before = a.Contents(), bb_before = bb;

        tavrel_AVX_8x4x32_AMD(M, N, K, kNaN, a.data(), -1, nullptr, -1, kNaN, c.data(), -1,
                              aa.data(), bb.data());

        const std::string shape = Shape(M, N, K);
        if (!Unchanged(a_before, a.data()) || !Unchanged(bb_before, bb.data())) {
            return ::testing::AssertionFailure() << shape << ": A or BB written";
        }
        const auto c_ok = SameAs("C", c, expected_c, shape);
        return c_ok ? SameAs("AA", aa, expected_aa, shape) : c_ok;
    }
};

// Depths below, at and across one and two 32-step passes.
TEST_F(Kernel32Deep, ShapesAndDepthRemaindersMatchTheIncreasingKSum) {
    for (const int M : {0, 4, 8, 12, 16, 20, 24}) {
        for (int N = 0; N <= 9; ++N) {
            for (const int K : {0, 1, 2, 3, 5, 31, 32, 33, 63, 64, 65, 97}) {
                ASSERT_TRUE(Check(M, N, K));
            }
        }
    }
    ASSERT_TRUE(Check(176, 12, 176));
}

// M 12, N 6: rows 0..7 of columns 0..3 are written, rows 8..11 and columns
// 4..5 keep their values; M 4 leaves AA untouched too.
TEST_F(Kernel32Deep, WritesOnlyWholeEightByFourBlocks) {
    const int K = 3;
    GuardedBuffer a(12 * K, 1.0), c(12 * 6, kNaN), aa(8 * K);
    std::vector<double> bb(K * 6, 1.0);
    tavrel_AVX_8x4x32_AMD(12, 6, K, 1.0, a.data(), 12, nullptr, 12, 1.0, c.data(), 12, aa.data(),
                          bb.data());
    for (int j = 0; j < 6; ++j) {
        for (int i = 0; i < 12; ++i) {
            if (i < 8 && j < 4) {
                EXPECT_EQ(c[i + j * 12], K) << i << ", " << j;
            } else {
                EXPECT_TRUE(std::isnan(c[i + j * 12])) << i << ", " << j;
            }
        }
    }
    GuardedBuffer small_aa(8 * K, 5.0);
    tavrel_AVX_8x4x32_AMD(4, 6, K, 1.0, a.data(), 4, nullptr, 4, 1.0, c.data(), 4, small_aa.data(),
                          bb.data());
    EXPECT_TRUE(SameAs("AA", small_aa, std::vector<double>(8 * K, 5.0), "M 4"));
}

TEST_F(Kernel32Deep, NegativeSizesWriteNothing) {
    GuardedBuffer a(256, 1.0), c(256, 7.0), aa(256, 3.0);
    std::vector<double> bb(256, 1.0);
    const std::vector<double> c_before = c.Contents(), aa_before = aa.Contents();
    for (const auto& [M, N, K] : {std::array<int, 3>{-8, 4, 8}, {8, -4, 8}, {8, 4, -3}}) {
        tavrel_AVX_8x4x32_AMD(M, N, K, 1.0, a.data(), 8, nullptr, 8, 1.0, c.data(), 8, aa.data(),
                              bb.data());
    }
    EXPECT_TRUE(SameAs("C", c, c_before, "negative sizes"));
    EXPECT_TRUE(SameAs("AA", aa, aa_before, "negative sizes"));
}

}  // namespace
