// The 13-argument tavrel_AVX_8x4x16_AMD and its two halves (Pack_AA_AMD,
// tavrel_AVX_8x4x16_Packed) against the ordered scalar reference, bit for
// bit, in both vector forms, with guard bands around C and AA and gap rows
// (ldc > M) that must come through untouched.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Tavrel_8x4.h"
#include "support/kernel_harness.h"

namespace {

struct KernelCase {
    int M, N, K;
    double alpha = 1.0, beta = 1.0;
    int lda_extra = 2, ldc_extra = 3;  // lda - M and ldc - M
};

class Tavrel8x4Kernel : public KernelTest<isAVXenable> {
protected:
    // Random column-major A and B (B's panel in BB), C from `fill`, and C's
    // gap rows and AA between guards. Afterwards each C(i, j) is
    // alpha * sum + beta * C(i, j) by the rule of its region, the sum over k
    // in increasing order; the gap rows, A and BB are as they were and AA
    // holds A in the packed-A format.
    template <typename Fill>
    ::testing::AssertionResult Check(const KernelCase& c, Fill fill) {
        const int lda = c.M + c.lda_extra, ldc = c.M + c.ldc_extra;
        const std::string shape = Shape(c.M, c.N, c.K, c.alpha, c.beta);
        std::vector<double> a = random_.Vector(static_cast<std::size_t>(lda) * c.K);
        std::vector<double> b = random_.Vector(static_cast<std::size_t>(c.K) * c.N);
        std::vector<double> bb = PanelFormat(c.N, c.K, b.data(), 1, c.K);  // B(k, j) = b[k + j*K]
        GuardedBuffer cbuf(static_cast<std::size_t>(ldc) * c.N);
        GuardedBuffer aa(static_cast<std::size_t>(c.M) * c.K);
        const Layout at = ColumnMajor(ldc);
        ForEachElement(cbuf.data(), at, c.M, c.N, [&](int i, int j, double& e) { e = fill(i, j); });
        std::vector<double> expected = cbuf.Contents();
        ForEachElement(expected.data(), at, c.M, c.N, [&](int i, int j, double& e) {
            const double* b_column = b.data() + std::ptrdiff_t{c.K} * j;
            const double sum = OrderedDot(c.K, a.data() + i, lda, b_column, 1);
            e = RegionRule(i, j, c.M, c.N, c.alpha, sum, c.beta, e);
        });
        Untouched inputs;
        inputs.Watch("A", a);
        inputs.Watch("BB", bb);

        switch (calling_) {
            case Calling::kWhole:
                tavrel_AVX_8x4x16_AMD(c.M, c.N, c.K, c.alpha, a.data(), lda, nullptr, 0, c.beta,
                                      cbuf.data(), ldc, aa.data(), bb.data());
                break;
            case Calling::kHalves:
                Pack_AA_AMD(c.M, c.K, a.data(), lda, aa.data());
                tavrel_AVX_8x4x16_Packed(c.M, c.N, c.K, c.alpha, aa.data(), c.beta, cbuf.data(),
                                         ldc, bb.data());
                break;
            case Calling::kTiles:
                if (auto packed = CallOnTiles(c, a, lda, b, bb, cbuf, ldc, aa); !packed) {
                    return packed;
                }
                break;
        }
        return AllOf({inputs.Check(shape), SameAs("C", cbuf, expected, shape, at),
                      SameAs("AA", aa, PackedAFormat(c.M, c.K, a.data(), lda), shape)});
    }

    ::testing::AssertionResult Check(const KernelCase& c) {
        return Check(c, [this](int, int) { return random_(); });
    }

    // How Check calls the kernel: the 13-argument export; its two halves; or
    // A and B packed in pieces (row ranges of multiples of 8, column ranges
    // of multiples of 4, as threads share them) and the packed half called
    // on every tile of a grid cut at such multiples.
    enum class Calling { kWhole, kHalves, kTiles };
    Calling calling_ = Calling::kWhole;

    // Cuts 0 < ... < length at multiples of `unit`, pieces of 1 to 3 units.
    std::vector<int> Cuts(int length, int unit) {
        std::vector<int> cuts{0};
        while (cuts.back() + unit < length) {
            cuts.push_back(cuts.back() + unit * (1 + random_.UpTo(2)));
        }
        if (cuts.back() >= length && cuts.size() > 1) cuts.back() = length;
        if (cuts.back() < length) cuts.push_back(length);
        return cuts;
    }

    ::testing::AssertionResult CallOnTiles(const KernelCase& c, std::vector<double>& a, int lda,
                                           std::vector<double>& b, const std::vector<double>& bb,
                                           GuardedBuffer& cbuf, int ldc, GuardedBuffer& aa) {
        const std::vector<int> rows = Cuts(c.M, 8), cols = Cuts(c.N, 4);
        const std::ptrdiff_t K = c.K;  // rows i0.. of AA and columns j0.. of BB start at K*i0, K*j0
        for (std::size_t p = 0; p + 1 < rows.size(); ++p) {
            Pack_AA_AMD(rows[p + 1] - rows[p], c.K, a.data() + rows[p], lda,
                        aa.data() + K * rows[p]);
        }
        GuardedBuffer panel(static_cast<std::size_t>(K) * c.N);
        for (std::size_t p = 0; p + 1 < cols.size(); ++p) {
            Pack_BBTRANSP_Into(cols[p + 1] - cols[p], c.K, c.K, b.data() + K * cols[p],
                               panel.data() + K * cols[p]);
        }
        if (auto same = SameAs("BB packed in pieces", panel, bb, Shape(c.M, c.N, c.K)); !same) {
            return same;
        }
        for (std::size_t p = 0; p + 1 < rows.size(); ++p) {
            for (std::size_t q = 0; q + 1 < cols.size(); ++q) {
                double* tile = cbuf.data() + rows[p] + std::ptrdiff_t{ldc} * cols[q];
                tavrel_AVX_8x4x16_Packed(rows[p + 1] - rows[p], cols[q + 1] - cols[q], c.K, c.alpha,
                                         aa.data() + K * rows[p], c.beta, tile, ldc,
                                         panel.data() + K * cols[q]);
            }
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(Tavrel8x4Kernel, EveryShapeUpTo20MatchesTheOrderedReference) {
    for (int M = 0; M <= 20; ++M) {
        for (int N = 0; N <= 20; ++N) {
            for (int K = 0; K <= 20; ++K) {
                ASSERT_TRUE(Check({M, N, K, 2.5, -1.5}));
            }
        }
    }
}

TEST_F(Tavrel8x4Kernel, LargerShapesMatchTheOrderedReference) {
    const int rows[] = {13, 37, 176};
    const int cols[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 201};
    const int depths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 33, 176};
    for (const int M : rows) {
        for (const int N : cols) {
            for (const int K : depths) ASSERT_TRUE(Check({M, N, K}));
        }
    }
}

// Depths across several pieces of the tails' padded tiles: the rows below
// the 8-row blocks and the tail columns carry their sums from piece to piece.
TEST_F(Tavrel8x4Kernel, TailsOfDeepProductsMatchTheOrderedReference) {
    const auto special = [](int i, int j) { return (i + j) % 3 == 0 ? kNaN : -0.0; };
    for (const int K : {255, 256, 257, 513, 700}) {
        for (const int M : {3, 12, 13, 21}) {
            for (const int N : {3, 6, 9}) {
                ASSERT_TRUE(Check({M, N, K, 2.5, -1.5}));
                ASSERT_TRUE(Check({M, N, K, 1.0, 0.0}, special));
            }
        }
    }
}

// The halves, and A and B packed in pieces with the packed half called on
// tiles, give the bits of the whole kernel, NaN and signed zeros included.
TEST_F(Tavrel8x4Kernel, HalvesAndTilesOfSharedPackingsMatchTheOrderedReference) {
    const auto special = [](int i, int j) {
        const int kind = (i + 2 * j) % 4;
        return kind == 0 ? kNaN : kind == 1 ? -0.0 : 0.5 * i - j;
    };
    for (const Calling calling : {Calling::kHalves, Calling::kTiles}) {
        calling_ = calling;
        for (int M = 0; M <= 27; ++M) {
            for (int N = 0; N <= 14; ++N) {
                for (const int K : {0, 1, 4, 7}) {
                    ASSERT_TRUE(Check({M, N, K, 2.5, -1.5}));
                    ASSERT_TRUE(Check({M, N, K}, special));
                }
            }
        }
        for (const int M : {61, 200}) {
            for (const int N : {37, 203}) ASSERT_TRUE(Check({M, N, 176}));
        }
    }
}

TEST_F(Tavrel8x4Kernel, AlphaAndBetaFollowTheWriteBackRules) {
    const double factors[] = {1.0, 0.0, -0.0, 2.5, kNaN};
    const int depths[] = {0, 1, 3, 5, 8};
    for (const double alpha : factors) {
        for (const double beta : factors) {
            for (int M = 0; M <= 20; ++M) {
                for (int N = 0; N <= 9; ++N) {
                    for (const int K : depths) ASSERT_TRUE(Check({M, N, K, alpha, beta}));
                }
            }
        }
    }
}

// Beta 0 stores without reading C; beta 1 with alpha 1 may skip both exact
// multiplies, which must keep NaN, infinities and signed zeros as they were.
TEST_F(Tavrel8x4Kernel, NanInfinityAndSignedZeroInCWithBetaZeroOrOne) {
    const auto special = [](int i, int j) {
        const int kind = (i + j) % 3;
        return kind == 0 ? kNaN : kind == 1 ? -kInf : -0.0;
    };
    for (const double beta : {0.0, -0.0, 1.0}) {
        for (int M = 1; M <= 20; ++M) {
            for (int N = 1; N <= 9; ++N) {
                for (const int K : {0, 1, 6}) ASSERT_TRUE(Check({M, N, K, 1.0, beta}, special));
            }
        }
    }
}

// M 13 (an 8-row block, a 4-row block, a 1-row strip), N 7 (one whole panel
// and a 3-column tail): beta 0 overwrites the vector regions without reading
// C; everywhere else 0 * NaN keeps NaN.
TEST_F(Tavrel8x4Kernel, BetaZeroReadsCOnlyWhereTheScalarRuleApplies) {
    const int M = 13, N = 7, K = 3;
    std::vector<double> a(M * K, 1.0), bb(K * N, 1.0);
    GuardedBuffer c(M * N, kNaN), aa(M * K);
    tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a.data(), M, nullptr, 0, 0.0, c.data(), M, aa.data(),
                          bb.data());
    std::vector<double> expected(M * N, kNaN);
    ForEachElement(expected.data(), ColumnMajor(M), M, N, [](int i, int j, double& e) {
        if (i < 8 || (i < 12 && j < 4)) e = 3.0;
    });
    EXPECT_TRUE(SameAs("C", c, expected, Shape(M, N, K), ColumnMajor(M)));
}

TEST_F(Tavrel8x4Kernel, LeadingDimensionsWellAboveM) {
    for (const int M : {1, 4, 8, 13}) {
        for (const int N : {1, 4, 6}) {
            ASSERT_TRUE(Check({M, N, 5, 1.0, 1.0, 17, 29}));
        }
    }
}

TEST_F(Tavrel8x4Kernel, PacksAIntoTheThreeRegions) {
    // M 13, K 2: AA[0..7] = A(0..7, 0), AA[8..15] = A(0..7, 1),
    // AA[16..19] = A(8..11, 0), AA[20..23] = A(8..11, 1), AA[24..25] = A(12, 0..1).
    const int M = 13, K = 2;
    std::vector<double> a(M * K);
    for (int n = 0; n < M * K; ++n) a[n] = n;  // A(i, k) = i + 13k
    GuardedBuffer aa(M * K);
    std::vector<double> bb(K * 4, 0.0), c(M * 4, 0.0);
    tavrel_AVX_8x4x16_AMD(M, 4, K, 1.0, a.data(), M, nullptr, 0, 1.0, c.data(), M, aa.data(),
                          bb.data());
    const std::vector<double> expected = {0,  1,  2,  3, 4, 5,  6,  7,  13, 14, 15, 16, 17,
                                          18, 19, 20, 8, 9, 10, 11, 21, 22, 23, 24, 12, 25};
    EXPECT_TRUE(SameAs("AA", aa, expected, Shape(M, 4, K)));
}

// Beta 2: any write, even of an empty sum, would change C.
TEST_F(Tavrel8x4Kernel, NegativeSizesWriteNothing) {
    GuardedBuffer c(64), aa(64);
    const std::vector<double> untouched = c.Contents();
    std::vector<double> a(64, 1.0), bb(64, 1.0);
    for (const auto& [M, N, K] : {std::array<int, 3>{-1, 4, 4}, {4, -1, 4}, {4, 4, -1}}) {
        tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a.data(), 8, nullptr, 0, 2.0, c.data(), 8, aa.data(),
                              bb.data());
        tavrel_AVX_8x4x16_Packed(M, N, K, 1.0, a.data(), 2.0, c.data(), 8, bb.data());
        EXPECT_TRUE(SameAs("C", c, untouched, Shape(M, N, K)));
        EXPECT_TRUE(SameAs("AA", aa, untouched, Shape(M, N, K)));
    }
    for (const auto& [M, K] : {std::array<int, 2>{-1, 4}, {4, -1}, {4, 0}, {0, 4}}) {
        Pack_AA_AMD(M, K, a.data(), 8, aa.data());
        const std::string sizes = "Pack_AA_AMD M " + std::to_string(M) + " K " + std::to_string(K);
        EXPECT_TRUE(SameAs("AA", aa, untouched, sizes));
    }
}

// Both forms in one process: the library's width limit switches between them
// (256 keeps the AVX form; 512 restores the form chosen at load, the AVX-512
// form where the processor runs it unless TAVREL_8X4_FORM=avx).
class Tavrel8x4Forms : public Tavrel8x4Kernel {};

TEST_F(Tavrel8x4Forms, BothFormsMatchTheOrderedReferenceBitForBit) {
    // Shapes across the 24-, 16- and 8-row blocks, the 8- and 4-column groups
    // and the column chunks of the AVX-512 form (at depth 1024 a chunk is 48
    // columns: 300 is six chunks, then 8 and 4 columns), the 4-row block, the
    // strips and the tail panels; A and C without gaps.
    const KernelCase products[] = {
        {176, 1936, 176, 1.0, 1.0, 0, 0}, {176, 44, 176, 1.0, 0.0, 0, 0},
        {61, 23, 19, -1.5, 2.5, 0, 0},    {40, 12, 33, 2.0, -0.0, 0, 0},
        {24, 8, 1, 1.0, 1.0, 0, 0},       {16, 4, 7, 0.5, 1.0, 0, 0},
        {8, 9, 5, 1.0, kNaN, 0, 0},       {203, 31, 64, 1.0, 1.0, 0, 0},
        {13, 7, 0, 3.0, 0.5, 0, 0},       {56, 300, 1024, 1.0, 1.0, 0, 0},
    };
    struct RestoreFormAtEnd {
        ~RestoreFormAtEnd() { TAVREL_AVX_8X4_LimitFormBits(512); }
    } restore;
    const int at_load = TAVREL_AVX_8X4_LimitFormBits(512);
    const bool runs_avx512 = __builtin_cpu_supports("avx512f");
    ASSERT_EQ(at_load, runs_avx512 && std::getenv("TAVREL_8X4_FORM") == nullptr ? 512 : 256);
    for (const int bits : {at_load, 256}) {
        ASSERT_EQ(TAVREL_AVX_8X4_LimitFormBits(bits), bits);
        for (const KernelCase& p : products) {
            EXPECT_TRUE(Check(p)) << "the " << bits << "-bit form (" << at_load << " at load)";
        }
    }
    if (at_load == 256) std::printf("the 512-bit form does not run here: both used the AVX form\n");
}

}  // namespace
