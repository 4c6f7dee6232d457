// The kernel variants of Tavrel_8x4 bit for bit against scalar references in
// each kernel's summation order: the row-by-row 11-argument
// tavrel_AVX_8x4x16_AMD (four depth lanes per element), tavrel_AVX_8x4_K1
// (fed from Pack_BB) and the 32-deep tavrel_AVX_8x4x32_AMD (increasing k).
// Rows, columns and depth steps that a kernel must leave out hold NaN, and
// guard values show that nothing outside the whole blocks is written.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "Tavrel_8x4.h"
#include "support/kernel_harness.h"

namespace {

// --- 11-argument tavrel_AVX_8x4x16_AMD -------------------------------------

struct DirectCase {
    int M, N, K;
    double alpha = 2.5, beta = -1.5;
    int extra = 3;  // lda - K, ldb - K and ldc - N
};

class Tavrel8x4DirectKernel : public KernelTest<isAVXenable> {
protected:
    // A row by row, B column by column, random but NaN in every row, column
    // and depth step that the kernel must leave out and in the stride gaps;
    // C (row by row) from `fill`. Afterwards C(i, j) of the whole 4x2 blocks
    // is beta * C(i, j) + alpha * (the sum of four depth lanes over the whole
    // depth steps), the rest of C, A and B as they were.
    template <typename Fill>
    ::testing::AssertionResult Check(const DirectCase& c, Fill fill) {
        const int M4 = c.M - c.M % 4, N2 = c.N - c.N % 2, K4 = c.K - c.K % 4;
        const int lda = c.K + c.extra, ldb = c.K + c.extra, ldc = c.N + c.extra;
        std::vector<double> a(static_cast<std::size_t>(c.M) * lda);
        ForEachElement(a.data(), RowMajor(lda), c.M, lda,
                       [&](int i, int k, double& e) { e = i < M4 && k < K4 ? random_() : kNaN; });
        std::vector<double> b(static_cast<std::size_t>(c.N) * ldb);
        ForEachElement(b.data(), ColumnMajor(ldb), ldb, c.N,
                       [&](int k, int j, double& e) { e = j < N2 && k < K4 ? random_() : kNaN; });
        GuardedBuffer cbuf(static_cast<std::size_t>(c.M) * ldc);
        const Layout at = RowMajor(ldc);
        ForEachElement(cbuf.data(), at, c.M, c.N, [&](int i, int j, double& e) { e = fill(i, j); });
        std::vector<double> expected = cbuf.Contents();
        ForEachElement(expected.data(), at, M4, N2, [&](int i, int j, double& e) {
            const double sum = FourLaneDot(K4, a.data() + i * lda, b.data() + j * ldb);
            e = ScalarRule(c.alpha, sum, c.beta, e);
        });
        Untouched inputs;
        inputs.Watch("A", a);
        inputs.Watch("B", b);

        tavrel_AVX_8x4x16_AMD(c.M, c.N, c.K, c.alpha, a.data(), lda, b.data(), ldb, c.beta,
                              cbuf.data(), ldc);

        const std::string shape = Shape(c.M, c.N, c.K, c.alpha, c.beta);
        return AllOf({inputs.Check(shape), SameAs("C", cbuf, expected, shape, at)});
    }

    ::testing::AssertionResult Check(const DirectCase& c) {
        return Check(c, [this](int, int) { return random_(); });
    }
};

TEST_F(Tavrel8x4DirectKernel, EveryShapeUpTo13ComputesOnlyWholeBlocks) {
    for (int M = 0; M <= 13; ++M) {
        for (int N = 0; N <= 9; ++N) {
            for (int K = 0; K <= 13; ++K) ASSERT_TRUE(Check({M, N, K}));
        }
    }
}

TEST_F(Tavrel8x4DirectKernel, LargerShapesAndStrides) {
    for (const int M : {4, 37, 176}) {
        for (const int N : {2, 9, 64}) {
            for (const int K : {4, 31, 176}) {
                ASSERT_TRUE(Check({M, N, K}));
                ASSERT_TRUE(Check({M, N, K, 1.0, 1.0, 40}));
            }
        }
    }
}

TEST_F(Tavrel8x4DirectKernel, AlphaAndBetaAlwaysCombineWithTheOldC) {
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
TEST_F(Tavrel8x4DirectKernel, BetaZeroKeepsNanAndInfinityOfC) {
    const auto special = [](int i, int j) { return (i + j) % 2 ? kNaN : kInf; };
    for (const double beta : {0.0, -0.0}) {
        for (const int K : {0, 2, 8}) ASSERT_TRUE(Check({9, 5, K, 1.0, beta}, special));
    }
    std::vector<double> a(4 * 4, 1.0), b(2 * 4, 1.0);
    GuardedBuffer c(4 * 2, kNaN);
    c[3] = -kInf;
    tavrel_AVX_8x4x16_AMD(4, 2, 4, 1.0, a.data(), 4, b.data(), 4, 0.0, c.data(), 2);
    EXPECT_TRUE(SameAs("C", c, std::vector<double>(4 * 2, kNaN), Shape(4, 2, 4), RowMajor(2)));
}

// Lane l holds the products of the depth steps l, l+4: the lanes cancel the
// large term before they meet, which the plain increasing-k sum cannot.
TEST_F(Tavrel8x4DirectKernel, SumsFourDepthLanesBeforeAddingThem) {
    const int K = 8;
    std::vector<double> a(4 * K, 1.0), b(2 * K, 0.0);
    GuardedBuffer c(4 * 2, 0.0);
    for (int j = 0; j < 2; ++j) {
        b[j * K + 0] = 1e16;
        b[j * K + 1] = b[j * K + 2] = b[j * K + 3] = 1.0;
        b[j * K + 4] = -1e16;
    }
    tavrel_AVX_8x4x16_AMD(4, 2, K, 1.0, a.data(), K, b.data(), K, 1.0, c.data(), 2);
    EXPECT_EQ(OrderedDot(K, a.data(), 1, b.data(), 1), 0.0);  // increasing k loses the ones
    EXPECT_TRUE(SameAs("C", c, std::vector<double>(4 * 2, 3.0), Shape(4, 2, K), RowMajor(2)));
}

// Beta 2: any write, even of an empty sum, would change C.
TEST_F(Tavrel8x4DirectKernel, NegativeSizesWriteNothing) {
    GuardedBuffer c(64, 7.0);
    const std::vector<double> before = c.Contents();
    std::vector<double> a(64, 1.0), b(64, 1.0);
    for (const auto& [M, N, K] : {std::array<int, 3>{-4, 4, 4}, {4, -2, 4}, {4, 4, -4}}) {
        tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a.data(), 8, b.data(), 8, 2.0, c.data(), 8);
        EXPECT_TRUE(SameAs("C", c, before, Shape(M, N, K)));
    }
}

// --- tavrel_AVX_8x4_K1 ------------------------------------------------------

class Tavrel8x4K1Kernel : public KernelTest<isAVXenable> {
protected:
    // A(i, k) = src[k*n + i], packed by Pack_BB into Apack; B(k, j) at
    // B[k*n + j]; C row by row. Afterwards C(i, j) of the whole 8-column
    // panels is the sum over k in increasing order, the other columns as they
    // were; Bpack holds those panels' columns in groups of 8; B and Apack are
    // as they were. n must be a multiple of 4 (aligned rows), so all n rows
    // are computed.
    ::testing::AssertionResult Check(int n, int K) {
        const int ncol = n - n % 8;
        const std::size_t area = static_cast<std::size_t>(n) * K;
        GuardedBuffer src(area), b(area), apack(4 * area);
        random_.Fill(src);
        random_.Fill(b);
        Pack_BB(n, K, src.data(), apack.data());
        GuardedBuffer bpack(static_cast<std::size_t>(ncol) * K), c(static_cast<std::size_t>(n) * n);
        random_.Fill(c);
        std::vector<double> expected_c = c.Contents();
        ForEachElement(expected_c.data(), RowMajor(n), n, ncol, [&](int i, int j, double& e) {
            e = OrderedDot(K, src.data() + i, n, b.data() + j, n);
        });
        const std::vector<double> expected_bpack = PanelFormat(ncol, K, b.data(), n, 1, 8);
        Untouched inputs;
        inputs.Watch("B", b);
        inputs.Watch("Apack", apack);

        tavrel_AVX_8x4_K1(-1, n, K, b.data(), nullptr, c.data(), bpack.data(), apack.data());

        const std::string shape = Shape(n, n, K);
        return AllOf({inputs.Check(shape), SameAs("C", c, expected_c, shape, RowMajor(n)),
                      SameAs("Bpack", bpack, expected_bpack, shape)});
    }
};

TEST_F(Tavrel8x4K1Kernel, OrdersAndDepthsMatchTheIncreasingKSum) {
    for (const int n : {0, 4, 8, 12, 16, 20, 24, 40}) {
        for (int K = 0; K <= 18; ++K) ASSERT_TRUE(Check(n, K));
    }
    for (const int K : {31, 64, 65}) ASSERT_TRUE(Check(64, K));
}

// n 12: one 8-column panel; columns 8..11 keep their values. n 4: no panel,
// nothing is written at all.
TEST_F(Tavrel8x4K1Kernel, WritesOnlyWholeEightColumnPanels) {
    const int K = 5;
    for (const int n : {4, 12}) {
        GuardedBuffer src(n * K, 1.0), b(n * K, 1.0), apack(4 * n * K), bpack(8 * K),
            c(n * n, kNaN);
        Pack_BB(n, K, src.data(), apack.data());
        tavrel_AVX_8x4_K1(0, n, K, b.data(), nullptr, c.data(), bpack.data(), apack.data());
        std::vector<double> expected_c(n * n, kNaN);
        if (n >= 8) {
            ForEachElement(expected_c.data(), RowMajor(n), n, 8,
                           [](int, int, double& e) { e = K; });
        }
        const std::vector<double> expected_bpack(8 * K, n >= 8 ? 1.0 : GuardedBuffer::kGuardValue);
        EXPECT_TRUE(SameAs("C", c, expected_c, Shape(n, n, K), RowMajor(n)));
        EXPECT_TRUE(SameAs("Bpack", bpack, expected_bpack, Shape(n, n, K)));
    }
}

TEST_F(Tavrel8x4K1Kernel, NegativeSizesWriteNothing) {
    GuardedBuffer b(64, 1.0), apack(256, 1.0), bpack(64, 3.0), c(64, 7.0);
    const std::vector<double> c_before = c.Contents(), bpack_before = bpack.Contents();
    for (const auto& [n, K] : {std::array<int, 2>{-8, 8}, {8, -1}}) {
        tavrel_AVX_8x4_K1(0, n, K, b.data(), nullptr, c.data(), bpack.data(), apack.data());
        EXPECT_TRUE(SameAs("C", c, c_before, Shape(n, n, K)));
        EXPECT_TRUE(SameAs("Bpack", bpack, bpack_before, Shape(n, n, K)));
    }
}

// --- tavrel_AVX_8x4x32_AMD --------------------------------------------------

class Tavrel8x4DeepKernel : public KernelTest<isAVXenable> {
protected:
    // Dense A (M x K) and C (M x N) with leading dimension M; the tail panel
    // of BB and A's rows below the 8-row blocks hold NaN. alpha, beta, lda,
    // B, ldb and ldc get values that would show if they were used.
    // Afterwards C(i, j) of the whole 8x4 blocks is the sum over k in
    // increasing order, the rest of C as it was; AA holds the 8-row blocks
    // of A in the packed-A format; A and BB are as they were.
    ::testing::AssertionResult Check(int M, int N, int K) {
        const int M8 = M - M % 8, N4 = N - N % 4;
        GuardedBuffer a(static_cast<std::size_t>(M) * K), c(static_cast<std::size_t>(M) * N);
        ForEachElement(a.data(), ColumnMajor(M), M, K,
                       [&](int i, int, double& e) { e = i < M8 ? random_() : kNaN; });
        random_.Fill(c);
        const std::vector<double> b = random_.Vector(static_cast<std::size_t>(K) * N);
        std::vector<double> bb = PanelFormat(N4, K, b.data(), 1, K);  // B(k, j) = b[k + j*K]
        bb.resize(b.size(), kNaN);
        GuardedBuffer aa(static_cast<std::size_t>(M8) * K);
        std::vector<double> expected_c = c.Contents();
        ForEachElement(expected_c.data(), ColumnMajor(M), M8, N4, [&](int i, int j, double& e) {
            e = OrderedDot(K, a.data() + i, M, b.data() + j * K, 1);
        });
        Untouched inputs;
        inputs.Watch("A", a);
        inputs.Watch("BB", bb);

        tavrel_AVX_8x4x32_AMD(M, N, K, kNaN, a.data(), -1, nullptr, -1, kNaN, c.data(), -1,
                              aa.data(), bb.data());

        const std::string shape = Shape(M, N, K);
        return AllOf({inputs.Check(shape), SameAs("C", c, expected_c, shape, ColumnMajor(M)),
                      SameAs("AA", aa, PackedAFormat(M8, K, a.data(), M), shape)});
    }
};

// Depths below, at and across one and two 32-step passes.
TEST_F(Tavrel8x4DeepKernel, ShapesAndDepthRemaindersMatchTheIncreasingKSum) {
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
TEST_F(Tavrel8x4DeepKernel, WritesOnlyWholeEightByFourBlocks) {
    const int K = 3;
    GuardedBuffer a(12 * K, 1.0), c(12 * 6, kNaN), aa(8 * K);
    std::vector<double> bb(K * 6, 1.0);
    tavrel_AVX_8x4x32_AMD(12, 6, K, 1.0, a.data(), 12, nullptr, 12, 1.0, c.data(), 12, aa.data(),
                          bb.data());
    std::vector<double> expected(12 * 6, kNaN);
    ForEachElement(expected.data(), ColumnMajor(12), 8, 4, [](int, int, double& e) { e = K; });
    EXPECT_TRUE(SameAs("C", c, expected, Shape(12, 6, K), ColumnMajor(12)));
    GuardedBuffer small_aa(8 * K, 5.0);
    tavrel_AVX_8x4x32_AMD(4, 6, K, 1.0, a.data(), 4, nullptr, 4, 1.0, c.data(), 4, small_aa.data(),
                          bb.data());
    EXPECT_TRUE(SameAs("AA", small_aa, std::vector<double>(8 * K, 5.0), Shape(4, 6, K)));
}

TEST_F(Tavrel8x4DeepKernel, NegativeSizesWriteNothing) {
    GuardedBuffer a(256, 1.0), c(256, 7.0), aa(256, 3.0);
    std::vector<double> bb(256, 1.0);
    const std::vector<double> c_before = c.Contents(), aa_before = aa.Contents();
    for (const auto& [M, N, K] : {std::array<int, 3>{-8, 4, 8}, {8, -4, 8}, {8, 4, -3}}) {
        tavrel_AVX_8x4x32_AMD(M, N, K, 1.0, a.data(), 8, nullptr, 8, 1.0, c.data(), 8, aa.data(),
                              bb.data());
        EXPECT_TRUE(SameAs("C", c, c_before, Shape(M, N, K)));
        EXPECT_TRUE(SameAs("AA", aa, aa_before, Shape(M, N, K)));
    }
}

}  // namespace
