// MultBlock_4x4xK_2 against a scalar reference that sums in increasing k with
// a rounding after every multiply and add (this file is built with
// -ffp-contract=off), bit for bit. Every buffer sits between guard bands, so a
// write outside the blocks and scratch areas shows. And the kernel
// libraries' exports that do no work.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "Tavrel.h"
#include "Tavrel_8x4.h"
#include "support/kernel_harness.h"

namespace {
// The kernel's buffers: guarded, and zero unless a test fills them.
struct Guarded : GuardedBuffer {
    explicit Guarded(std::size_t count, double fill = 0.0) : GuardedBuffer(count, fill) {}
};

// One call with random A, B and C on guarded buffers, compared with the reference.
struct Case {
    int M, N, K, m_rest = 0, n_rest = 0, lda_extra = 0, calls = 1;
};

void ExpectMatchesReference(const Case& t) {
    const std::string shape = Shape(t.M, t.N, t.K) + " m_rest " + std::to_string(t.m_rest) +
                              " n_rest " + std::to_string(t.n_rest);
    SCOPED_TRACE(shape);
    const int lda = t.K + t.lda_extra;
    const int rows = t.M - t.m_rest, cols = t.N - t.n_rest;
    RandomValues random(t.M + 100 * t.N + 10000 * t.K);
    Guarded a(static_cast<std::size_t>(t.M) * lda), b(static_cast<std::size_t>(t.K) * t.N);
    Guarded c(static_cast<std::size_t>(t.M) * t.N);
    random.Fill(a), random.Fill(b), random.Fill(c);
    // The panel: groups of four columns of B (row by row, B(k, j) at b[k*N + j]).
    GuardedBuffer bb(PanelFormat(cols, t.K, b.data(), t.N, 1));
    Guarded strip(4 * static_cast<std::size_t>(rows)), aa(2 * static_cast<std::size_t>(rows) * t.K);

    // C(i, j) += the sum over k in increasing order, for i < rows, j < cols.
    std::vector<double> expected = c.Contents();
    for (int call = 0; call < t.calls; ++call) {
        ForEachElement(expected.data(), RowMajor(t.N), rows, cols, [&](int i, int j, double& e) {
            e = e + OrderedDot(t.K, a.data() + i * lda, 1, b.data() + j, t.N);
        });
        MultBlock_4x4xK_2(lda, t.K, t.M, t.N, t.m_rest, t.n_rest, a.data(), bb.data(), c.data(),
                          strip.data(), aa.data());
    }
    EXPECT_TRUE(SameAs("C", c, expected, shape, RowMajor(t.N)));
    for (Guarded* buffer : {&a, &b, &strip, &aa}) EXPECT_TRUE(buffer->GuardsIntact());
    EXPECT_TRUE(bb.GuardsIntact());
}
}  // namespace

TEST(TavrelKernel, MatchesTheScalarSumBitForBitOnEverySmallShape) {
    for (int M = 4; M <= 20; M += 4) {
        for (int N = 4; N <= 20; N += 4) {
            for (int K = 0; K <= 20; K += 2) ExpectMatchesReference({M, N, K});
        }
    }
}

TEST(TavrelKernel, MatchesTheScalarSumOnTheMethodsShapeAndWideRows) {
    ExpectMatchesReference({176, 200, 176});
    ExpectMatchesReference({12, 8, 34, 0, 0, 6});  // rows of A longer than K
    ExpectMatchesReference({8, 4, 4});             // the smallest tile twice over
}

TEST(TavrelKernel, AccumulatesIntoC) {
    ExpectMatchesReference({8, 8, 6, 0, 0, 0, 2});
    ExpectMatchesReference({4, 4, 4, 0, 0, 0, 3});
}

TEST(TavrelKernel, LeavesTheRowsAndColumnsOutsideTheBlockAlone) {
    ExpectMatchesReference({8, 8, 8, 4, 0});  // rows 4..7 keep their values
    ExpectMatchesReference({8, 10, 8, 0, 2});
    ExpectMatchesReference({13, 15, 6, 1, 3});
    ExpectMatchesReference({16, 7, 4, 0, 3});
}

TEST(TavrelKernel, PacksEveryValueOfATwiceRowGroupByRowGroup) {
    const int M = 8, K = 6, lda = 7;
    Guarded a(M * lda), aa(2 * M * K), strip(4 * M), bb(4 * K), c(M * 4);
    RandomValues(9).Fill(a);
    // No column to compute (N - n_rest = 0): only A is packed.
    MultBlock_4x4xK_2(lda, K, M, 4, 0, 4, a.data(), bb.data(), c.data(), strip.data(), aa.data());
    // Row group h, step k: A(4h + t, k) twice at 8Kh + 8k + 2t.
    std::vector<double> expected(aa.size());
    for (int h = 0; h < M / 4; ++h) {
        for (int k = 0; k < K; ++k) {
            for (int t = 0; t < 4; ++t) {
                for (int lane = 0; lane < 2; ++lane) {
                    expected[8 * K * h + 8 * k + 2 * t + lane] = a[(4 * h + t) * lda + k];
                }
            }
        }
    }
    const std::string shape = Shape(M, 4, K) + " n_rest 4";
    EXPECT_TRUE(SameAs("aa", aa, expected, shape));
    EXPECT_TRUE(SameAs("C", c, std::vector<double>(M * 4, 0.0), shape));
    EXPECT_TRUE(SameAs("c_strip", strip, std::vector<double>(4 * M, 0.0), shape));
}

TEST(TavrelKernel, WritesNothingWithoutRowsOrDepth) {
    Guarded a(64), aa(64, 1.5), strip(32, 2.5), bb(64), c(64);
    RandomValues random(4);
    random.Fill(a), random.Fill(bb), random.Fill(c);
    const std::vector<double> c_before = c.Contents();
    // K 0: every tile is zero.
    MultBlock_4x4xK_2(4, 0, 4, 8, 0, 0, a.data(), bb.data(), c.data(), strip.data(), aa.data());
    EXPECT_TRUE(SameAs("C", c, c_before, "K 0"));
    // No rows (M - m_rest <= 0): not even A is packed.
    const std::vector<double> aa_before = aa.Contents();
    MultBlock_4x4xK_2(4, 4, 4, 8, 4, 0, a.data(), bb.data(), c.data(), strip.data(), aa.data());
    MultBlock_4x4xK_2(4, 4, -4, 8, 0, 0, a.data(), bb.data(), c.data(), strip.data(), aa.data());
    EXPECT_TRUE(SameAs("C", c, c_before, "no rows"));
    EXPECT_TRUE(SameAs("aa", aa, aa_before, "no rows"));
    EXPECT_TRUE(strip.GuardsIntact());
}

TEST(TavrelKernel, RefusesCallsOutsideItsContractWithoutTouchingMemory) {
    Guarded a(512), aa(512, 1.5), strip(64, 2.5), bb(512), c(512);
    RandomValues random(7);
    random.Fill(a), random.Fill(bb), random.Fill(c);
    const std::vector<double> c_before = c.Contents(), aa_before = aa.Contents(),
                              strip_before = strip.Contents();
    auto call = [&](int lda, int K, int M, int N, int m_rest, int n_rest, double* bb_at,
                    double* strip_at, double* aa_at) {
        MultBlock_4x4xK_2(lda, K, M, N, m_rest, n_rest, a.data(), bb_at, c.data(), strip_at, aa_at);
    };
    call(8, 5, 4, 4, 0, 0, bb.data(), strip.data(), aa.data());      // odd K
    call(8, -2, 4, 4, 0, 0, bb.data(), strip.data(), aa.data());     // negative K
    call(8, 4, 6, 4, 0, 0, bb.data(), strip.data(), aa.data());      // 6 rows
    call(8, 4, 4, 6, 0, 0, bb.data(), strip.data(), aa.data());      // 6 columns
    call(8, 4, 4, 4, 0, 0, bb.data() + 1, strip.data(), aa.data());  // unaligned panel
    call(8, 4, 4, 4, 0, 0, bb.data(), strip.data() + 1, aa.data());  // unaligned strip
    call(8, 4, 4, 4, 0, 0, bb.data(), strip.data(), aa.data() + 1);  // unaligned aa
    // Remainders outside their block: a negative one would make the block
    // larger than the caller's, one past the block a negative count.
    call(8, 4, 4, 4, -4, 0, bb.data(), strip.data(), aa.data());
    call(8, 4, 4, 4, 0, -4, bb.data(), strip.data(), aa.data());
    call(8, 4, 4, 4, 8, 0, bb.data(), strip.data(), aa.data());
    call(8, 4, 4, 4, 0, 8, bb.data(), strip.data(), aa.data());
    // Null pointers, each in turn.
    call(8, 4, 4, 4, 0, 0, nullptr, strip.data(), aa.data());
    call(8, 4, 4, 4, 0, 0, bb.data(), nullptr, aa.data());
    call(8, 4, 4, 4, 0, 0, bb.data(), strip.data(), nullptr);
    MultBlock_4x4xK_2(8, 4, 4, 4, 0, 0, nullptr, bb.data(), c.data(), strip.data(), aa.data());
    MultBlock_4x4xK_2(8, 4, 4, 4, 0, 0, a.data(), bb.data(), nullptr, strip.data(), aa.data());
    EXPECT_TRUE(SameAs("C", c, c_before, "calls outside the contract"));
    EXPECT_TRUE(SameAs("aa", aa, aa_before, "calls outside the contract"));
    EXPECT_TRUE(SameAs("c_strip", strip, strip_before, "calls outside the contract"));
}

TEST(TavrelKernel, ReadsAAtAnyAlignment) {
    // A starts one double past a 16-byte boundary, with an odd row distance.
    const int M = 4, N = 4, K = 4, lda = 5;
    Guarded a(M * lda + 1), b(K * N), c(M * N), strip(16), aa(32);
    RandomValues random(10);
    random.Fill(a), random.Fill(b);
    GuardedBuffer bb(PanelFormat(N, K, b.data(), N, 1));
    std::vector<double> expected = c.Contents();
    ForEachElement(expected.data(), RowMajor(N), M, N, [&](int i, int j, double& e) {
        e = e + OrderedDot(K, a.data() + 1 + i * lda, 1, b.data() + j, N);
    });
    MultBlock_4x4xK_2(lda, K, M, N, 0, 0, a.data() + 1, bb.data(), c.data(), strip.data(),
                      aa.data());
    EXPECT_TRUE(SameAs("C", c, expected, Shape(M, N, K) + " lda 5", RowMajor(N)));
}

// The small exports do no work, as the header promises: a CTavrel built on
// bytes of a known pattern, and assigned to, leaves every byte as it was;
// fnTavrel answers 42 at every call; nTavrel stays 0 through every export,
// the kernel included. Tavrel_8x4's pusto does nothing either: the
// library's slots and what they hold stay as they were.
TEST(KernelLibraries, TheNoOpExportsDoNoWork) {
    constexpr unsigned char kLeft = 0xA5, kRight = 0x5A;
    alignas(CTavrel) unsigned char left[sizeof(CTavrel)], right[sizeof(CTavrel)];
    std::memset(left, kLeft, sizeof left);
    std::memset(right, kRight, sizeof right);
    CTavrel* assigned = new (left) CTavrel;
    const CTavrel* source = new (right) CTavrel();
    EXPECT_EQ(&(*assigned = *source), assigned);
    for (const unsigned char byte : left) EXPECT_EQ(byte, kLeft);
    for (const unsigned char byte : right) EXPECT_EQ(byte, kRight);

    EXPECT_EQ(fnTavrel(), 42);
    EXPECT_EQ(fnTavrel(), 42);
    ExpectMatchesReference({8, 8, 4});
    EXPECT_EQ(nTavrel, 0);

    ASSERT_EQ(TAVREL_AVX_8X4_Init(8, 8, 8, 1), 1);
    double* const slot = TAVREL_AVX_8X4_GET_AA()[0];
    ASSERT_NE(slot, nullptr);
    for (int i = 0; i < 64; ++i) slot[i] = i + 0.5;
    const long long kept = TAVREL_AVX_8X4_KeptBytes();
    pusto();
    EXPECT_EQ(TAVREL_AVX_8X4_GET_AA()[0], slot);
    EXPECT_EQ(TAVREL_AVX_8X4_KeptBytes(), kept);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(slot[i], i + 0.5) << i;
    TAVREL_AVX_8X4_Free();
}
