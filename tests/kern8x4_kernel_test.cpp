// The 13-argument tavrel_AVX_8x4x16_AMD and its two halves (Pack_AA_AMD,
// tavrel_AVX_8x4x16_Packed) against the ordered scalar reference, bit for bit, with guard bands around C and AA and gap rows (ldc > M) that
// must come through untouched.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "Tavrel_8x4.h"
#include "support/gemm_reference.h"
#include "support/guarded_buffer.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSentinel = GuardedBuffer::kGuardValue;  // guard bands and gap rows

struct KernelCase {
    int M, N, K;
    double alpha = 1.0, beta = 1.0;
    int lda_extra = 2, ldc_extra = 3;
};

std::string Describe(const KernelCase& c) {
    std::ostringstream out;
    out << "M " << c.M << " N " << c.N << " K " << c.K << " alpha " << c.alpha << " beta "
        << c.beta;
    return out.str();
}

// The rows and columns that the vector write-back rule covers: the 8-row
// blocks of every panel and the 4-row block of the whole 4-column panels.
bool InVectorRegion(int i, int j, int M, int N) {
    const int M8 = M - M % 8;
    const int N4 = N - N % 4;
    return i < M8 || (M % 8 >= 4 && i < M8 + 4 && j < N4);
}

// The panel format: columns j0..j0+3 at K*j0 + 4k + c, the tail of nr columns
// at K*N4 + nr*k + c. B(k, j) is b[k + j*K].
std::vector<double> PackPanel(const std::vector<double>& b, int K, int N) {
    std::vector<double> packed(static_cast<std::size_t>(K) * N);
    const int N4 = N - N % 4;
    for (int j = 0; j < N; ++j) {
        const int j0 = j < N4 ? j - j % 4 : N4;
        const int width = j < N4 ? 4 : N % 4;
        for (int k = 0; k < K; ++k) packed[K * j0 + width * k + (j - j0)] = b[k + j * K];
    }
    return packed;
}

// Fills C's elements with `fill(i, j)`; gap rows keep the sentinel.
template <typename Fill>
void FillC(GuardedBuffer& c, int M, int N, int ldc, Fill fill) {
    for (int j = 0; j < N; ++j) {
        for (int i = 0; i < M; ++i) c[i + j * ldc] = fill(i, j);
    }
}

class Tavrel8x4Kernel : public ::testing::Test {
protected:
    void SetUp() override {
        if (!isAVXenable()) GTEST_SKIP() << "no AVX on this processor or operating system";
    }

    double Random() { return value_(generator_); }

    // Runs the kernel on random A and B and a C given by `fill`, and checks C,
    // the guards, the gap rows, the packed A in AA and that A and BB stay.
    template <typename Fill>
    ::testing::AssertionResult Check(const KernelCase& c, Fill fill) {
        const int lda = c.M + c.lda_extra;
        const int ldc = c.M + c.ldc_extra;
        std::vector<double> a(static_cast<std::size_t>(lda) * c.K);
        for (double& v : a) v = Random();
        std::vector<double> b(static_cast<std::size_t>(c.K) * c.N);
        for (double& v : b) v = Random();
        std::vector<double> bb = PackPanel(b, c.K, c.N);
        const std::vector<double> a_before = a, bb_before = bb;

        GuardedBuffer cbuf(static_cast<std::size_t>(ldc) * c.N);
        FillC(cbuf, c.M, c.N, ldc, fill);
        std::vector<double> expected(cbuf.data(), cbuf.data() + cbuf.size());
        for (int j = 0; j < c.N; ++j) {
            for (int i = 0; i < c.M; ++i) {
                const double* b_column = b.data() + static_cast<std::size_t>(j) * c.K;
                const double s = OrderedDot(c.K, a.data() + i, lda, b_column, 1);
                double& e = expected[i + j * ldc];
                e = InVectorRegion(i, j, c.M, c.N) ? VectorRule(c.alpha, s, c.beta, e)
                                                   : ScalarRule(c.alpha, s, c.beta, e);
            }
        }
        GuardedBuffer aa(static_cast<std::size_t>(c.M) * c.K);

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

        if (!cbuf.GuardsIntact())
            return ::testing::AssertionFailure() << Describe(c) << ": C guard written";
        if (!aa.GuardsIntact())
            return ::testing::AssertionFailure() << Describe(c) << ": AA guard written";
        if (a != a_before || bb != bb_before) {
            return ::testing::AssertionFailure() << Describe(c) << ": A or BB written";
        }
        for (std::size_t n = 0; n < expected.size(); ++n) {
            if (!SameValue(cbuf[n], expected[n])) {
                return ::testing::AssertionFailure()
                       << Describe(c) << ": C(" << n % ldc << ", " << n / ldc << ") is " << cbuf[n]
                       << ", expected " << expected[n];
            }
        }
        const std::vector<double> packed_a = PackedA(a, lda, c.M, c.K);
        for (std::size_t n = 0; n < packed_a.size(); ++n) {
            if (!SameValue(aa[n], packed_a[n])) {
                return ::testing::AssertionFailure() << Describe(c) << ": AA[" << n << "] differs";
            }
        }
        return ::testing::AssertionSuccess();
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
        while (cuts.back() + unit < length) cuts.push_back(cuts.back() + unit * (1 + piece_(generator_)));
        if (cuts.back() >= length && cuts.size() > 1) cuts.back() = length;
        if (cuts.back() < length) cuts.push_back(length);
        return cuts;
    }

    ::testing::AssertionResult CallOnTiles(const KernelCase& c, std::vector<double>& a, int lda,
                                           std::vector<double>& b, const std::vector<double>& bb,
                                           GuardedBuffer& cbuf, int ldc, GuardedBuffer& aa) {
        const std::vector<int> rows = Cuts(c.M, 8), cols = Cuts(c.N, 4);
        for (std::size_t p = 0; p + 1 < rows.size(); ++p) {
            Pack_AA_AMD(rows[p + 1] - rows[p], c.K, a.data() + rows[p], lda,
                        aa.data() + static_cast<std::ptrdiff_t>(c.K) * rows[p]);
        }
        GuardedBuffer panel(static_cast<std::size_t>(c.K) * c.N);
        for (std::size_t p = 0; p + 1 < cols.size(); ++p) {
            Pack_BBTRANSP_Into(cols[p + 1] - cols[p], c.K, c.K,
                               b.data() + static_cast<std::ptrdiff_t>(c.K) * cols[p],
                               panel.data() + static_cast<std::ptrdiff_t>(c.K) * cols[p]);
        }
        if (!panel.GuardsIntact() || !std::equal(bb.begin(), bb.end(), panel.data())) {
            return ::testing::AssertionFailure() << Describe(c) << ": the panel packed in pieces differs";
        }
        for (std::size_t p = 0; p + 1 < rows.size(); ++p) {
            for (std::size_t q = 0; q + 1 < cols.size(); ++q) {
                tavrel_AVX_8x4x16_Packed(rows[p + 1] - rows[p], cols[q + 1] - cols[q], c.K, c.alpha,
                                         aa.data() + static_cast<std::ptrdiff_t>(c.K) * rows[p], c.beta,
                                         cbuf.data() + rows[p] + static_cast<std::ptrdiff_t>(ldc) * cols[q],
                                         ldc, panel.data() + static_cast<std::ptrdiff_t>(c.K) * cols[q]);
            }
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Check(const KernelCase& c) {
        return Check(c, [this](int, int) { return Random(); });
    }

    // The packed-A format: 8-row blocks, the 4-row block, the r-row strip.
    static std::vector<double> PackedA(const std::vector<double>& a, int lda, int M, int K) {
        std::vector<double> packed;
        int row = 0;
        for (const int rows : RowRegions(M)) {
            for (int k = 0; k < K; ++k) {
                for (int i = 0; i < rows; ++i) packed.push_back(a[row + i + k * lda]);
            }
            row += rows;
        }
        return packed;
    }

    static std::vector<int> RowRegions(int M) {
        std::vector<int> regions(M / 8, 8);
        if (M % 8 >= 4) regions.push_back(4);
        if (M % 4 > 0) regions.push_back(M % 4);
        return regions;
    }

    std::mt19937_64 generator_{2024};
    std::uniform_real_distribution<double> value_{-1.0, 1.0};
    std::uniform_int_distribution<int> piece_{0, 2};
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
    const int M = 13, N = 7, K = 3, ldc = M;
    std::vector<double> a(M * K, 1.0), bb(K * N, 1.0);
    std::vector<double> c(ldc * N, kNaN), aa_storage(M * K + 4);
    double* aa = aa_storage.data();
    while (reinterpret_cast<std::uintptr_t>(aa) % 32 != 0) ++aa;
    tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a.data(), M, nullptr, 0, 0.0, c.data(), ldc, aa, bb.data());
    for (int j = 0; j < N; ++j) {
        for (int i = 0; i < M; ++i) {
            const bool vector_rule = i < 8 || (i < 12 && j < 4);
            if (vector_rule) {
                EXPECT_EQ(c[i + j * ldc], 3.0) << i << ", " << j;
            } else {
                EXPECT_TRUE(std::isnan(c[i + j * ldc])) << i << ", " << j;
            }
        }
    }
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
    const double expected[26] = {0,  1,  2,  3, 4, 5,  6,  7,  13, 14, 15, 16, 17,
                                 18, 19, 20, 8, 9, 10, 11, 21, 22, 23, 24, 12, 25};
    for (int n = 0; n < M * K; ++n) EXPECT_EQ(aa[n], expected[n]) << n;
    EXPECT_TRUE(aa.GuardsIntact());
}

TEST_F(Tavrel8x4Kernel, NegativeSizesWriteNothing) {
    GuardedBuffer c(64), aa(64);
    std::vector<double> a(64, 1.0), bb(64, 1.0);
    for (const auto& [M, N, K] : {std::array<int, 3>{-1, 4, 4}, {4, -1, 4}, {4, 4, -1}}) {
        tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a.data(), 8, nullptr, 0, 1.0, c.data(), 8, aa.data(),
                              bb.data());
        tavrel_AVX_8x4x16_Packed(M, N, K, 1.0, a.data(), 1.0, c.data(), 8, bb.data());
    }
    for (const auto& [M, K] : {std::array<int, 2>{-1, 4}, {4, -1}, {4, 0}, {0, 4}}) {
        Pack_AA_AMD(M, K, a.data(), 8, aa.data());
    }
    for (std::size_t n = 0; n < c.size(); ++n) {
        ASSERT_TRUE(SameValue(c[n], kSentinel));
        ASSERT_TRUE(SameValue(aa[n], kSentinel));
    }
    EXPECT_TRUE(c.GuardsIntact());
    EXPECT_TRUE(aa.GuardsIntact());
}

}  // namespace
