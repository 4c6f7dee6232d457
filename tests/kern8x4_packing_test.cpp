// The B-panel packing routines of Tavrel_8x4: the BB panel format from both
// slot routines, the broadcast format, and that nothing past the packed
// extent (or anything at all for empty sizes) is written.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "Tavrel_8x4.h"
#include "support/kernel_harness.h"

namespace {

constexpr double kUntouched = -55.5;
constexpr int kSlotDoubles = 64 * 64;

// B(k, j) = Value(k, j): distinct for every element of the tested panels.
double Value(int k, int j) { return 1000.0 * j + k + 1; }

// Expected slot contents for an N x K panel: the format, then kUntouched.
std::vector<double> ExpectedPanel(int N, int K) {
    std::vector<double> b(static_cast<std::size_t>(K) * N);  // B(k, j) at b[k + j*K]
    ForEachElement(b.data(), ColumnMajor(K), K, N,
                   [](int k, int j, double& e) { e = Value(k, j); });
    std::vector<double> slot = PanelFormat(N, K, b.data(), 1, K);
    slot.resize(kSlotDoubles, kUntouched);
    return slot;
}

class Tavrel8x4Packing : public KernelTest<isAVXenable> {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(TAVREL_AVX_8X4_Init(64, 64, 1, 2), 1);
    }
    void TearDown() override { TAVREL_AVX_8X4_Free(); }

    // Slot `slot` reset to kUntouched, returned as a vector after `pack` ran.
    template <typename Pack>
    std::vector<double> PackInto(int slot, Pack pack) {
        double* bb = TAVREL_AVX_8X4_GET_BB()[slot];
        for (int n = 0; n < kSlotDoubles; ++n) bb[n] = kUntouched;
        pack();
        return std::vector<double>(bb, bb + kSlotDoubles);
    }

    // Column-contiguous source: B(k, j) at j*step + k.
    static std::vector<double> ColumnSource(int N, int K, int step) {
        std::vector<double> src(static_cast<std::size_t>(step) * (N > 0 ? N : 1), -1.0);
        for (int j = 0; j < N; ++j) {
            for (int k = 0; k < K; ++k) src[j * step + k] = Value(k, j);
        }
        return src;
    }

    // Row-contiguous source: B(k, j) at k*ld + j.
    static std::vector<double> RowSource(int N, int K, int ld) {
        std::vector<double> src(static_cast<std::size_t>(ld) * (K > 0 ? K : 1), -1.0);
        for (int k = 0; k < K; ++k) {
            for (int j = 0; j < N; ++j) src[k * ld + j] = Value(k, j);
        }
        return src;
    }

    std::vector<double> Transposed(int N, int K, int slot = 0) {
        std::vector<double> src = ColumnSource(N, K, K + 3);
        return PackInto(slot, [&] { Pack_BBTRANSP_AMD(N, K, K + 3, slot, src.data()); });
    }

    std::vector<double> RowWise(int N, int K, int slot = 0) {
        std::vector<double> src = RowSource(N, K, N + 5);
        return PackInto(slot, [&] { Pack_BB_AMD(N, K, N + 5, slot, src.data()); });
    }
};

TEST_F(Tavrel8x4Packing, SixColumnsTwoStepsGiveTheDocumentedTwelveValues) {
    const std::vector<double> expected = {Value(0, 0), Value(0, 1), Value(0, 2), Value(0, 3),
                                          Value(1, 0), Value(1, 1), Value(1, 2), Value(1, 3),
                                          Value(0, 4), Value(0, 5), Value(1, 4), Value(1, 5)};
    for (const auto& slot : {Transposed(6, 2), RowWise(6, 2)}) {
        EXPECT_EQ(std::vector<double>(slot.begin(), slot.begin() + 12), expected);
        EXPECT_EQ(slot[12], kUntouched);
    }
}

TEST_F(Tavrel8x4Packing, TransposedPackingFollowsTheFormatForEveryDepthAndTail) {
    for (int N = 1; N <= 13; ++N) {
        for (int K = 1; K <= 17; ++K) {
            ASSERT_EQ(Transposed(N, K), ExpectedPanel(N, K)) << "N " << N << " K " << K;
        }
    }
    ASSERT_EQ(Transposed(63, 33), ExpectedPanel(63, 33));
}

TEST_F(Tavrel8x4Packing, RowWisePackingFollowsTheFormatForEveryDepthAndTail) {
    for (int N = 1; N <= 13; ++N) {
        for (int K = 1; K <= 17; ++K) {
            ASSERT_EQ(RowWise(N, K), ExpectedPanel(N, K)) << "N " << N << " K " << K;
        }
    }
}

TEST_F(Tavrel8x4Packing, BothSlotRoutinesGiveIdenticalSlots) {
    for (const int N : {3, 4, 7, 8, 61}) {
        for (const int K : {1, 5, 8, 9, 64}) {
            if (N * K > kSlotDoubles) continue;
            EXPECT_EQ(Transposed(N, K), RowWise(N, K)) << "N " << N << " K " << K;
        }
    }
}

TEST_F(Tavrel8x4Packing, ThreeColumnTailHoldsThreeValuesPerStepAndNothingMore) {
    const std::vector<double> slot = Transposed(11, 5);  // N = 4*2 + 3
    for (int k = 0; k < 5; ++k) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(slot[5 * 8 + 3 * k + c], Value(k, 8 + c));
    }
    EXPECT_EQ(slot[55], kUntouched);
}

TEST_F(Tavrel8x4Packing, PacksIntoTheSlotItIsGiven) {
    const std::vector<double> slot1 = Transposed(5, 3, 1);
    EXPECT_EQ(slot1, ExpectedPanel(5, 3));
    const double* slot0 = TAVREL_AVX_8X4_GET_BB()[0];
    EXPECT_EQ(slot0[0], 0.0);  // still as Init left it
}

TEST_F(Tavrel8x4Packing, EmptySizesLeaveTheSlotUntouched) {
    const std::vector<double> untouched(kSlotDoubles, kUntouched);
    std::vector<double> src(64, 1.0);
    for (const auto& [N, K] : {std::pair{0, 4}, {4, 0}, {-4, 4}, {4, -4}, {0, 0}}) {
        EXPECT_EQ(PackInto(0, [&] { Pack_BBTRANSP_AMD(N, K, 8, 0, src.data()); }), untouched);
        EXPECT_EQ(PackInto(0, [&] { Pack_BB_AMD(N, K, 8, 0, src.data()); }), untouched);
    }
}

// A slot index outside the tables, or a call before Init or after Free,
// writes nothing (the sanitizer build watches every byte around).
TEST_F(Tavrel8x4Packing, SlotsOutsideTheTablesOrWithoutInitAreLeftAlone) {
    const std::vector<double> untouched(kSlotDoubles, kUntouched);
    std::vector<double> src = ColumnSource(8, 4, 8);
    for (const int slot : {-1, 2, 1 << 20}) {
        EXPECT_EQ(PackInto(0, [&] { Pack_BBTRANSP_AMD(8, 4, 8, slot, src.data()); }), untouched);
        EXPECT_EQ(PackInto(1, [&] { Pack_BB_AMD(8, 4, 8, slot, src.data()); }), untouched);
    }
    Pack_BBTRANSP_Into(8, 4, 8, src.data(), nullptr);
    TAVREL_AVX_8X4_Free();
    Pack_BBTRANSP_AMD(8, 4, 8, 0, src.data());
    Pack_BB_AMD(8, 4, 8, 0, src.data());
    EXPECT_EQ(TAVREL_AVX_8X4_GET_BB(), nullptr);
}

// Broadcast format into a 32-byte aligned buffer, with kUntouched after it.
std::vector<double> Broadcast(int M, int K, std::size_t capacity) {
    std::vector<double> src(static_cast<std::size_t>(M > 0 ? M : 1) * (K > 0 ? K : 1));
    for (std::size_t n = 0; n < src.size(); ++n) src[n] = static_cast<double>(n) + 0.5;
    alignas(32) static double dst[1024];
    for (double& v : dst) v = kUntouched;
    Pack_BB(M, K, src.data(), dst);
    return std::vector<double>(dst, dst + capacity);
}

TEST_F(Tavrel8x4Packing, BroadcastFormatOfFiveColumnsTwoSteps) {
    // S(k, i) = src[k*5 + i] = 5k + i + 0.5.
    const std::vector<double> dst = Broadcast(5, 2, 35);
    for (int k = 0; k < 2; ++k) {
        for (int u = 0; u < 4; ++u) {
            for (int lane = 0; lane < 4; ++lane) {
                EXPECT_EQ(dst[16 * k + 4 * u + lane], 5 * k + u + 0.5) << k << " " << u;
            }
        }
    }
    EXPECT_EQ(dst[32], 4.5);
    EXPECT_EQ(dst[33], 9.5);
    EXPECT_EQ(dst[34], kUntouched);
}

TEST_F(Tavrel8x4Packing, BroadcastFormatForEveryTail) {
    for (int M = 1; M <= 11; ++M) {
        for (int K = 1; K <= 6; ++K) {
            const int r = M % 4, M4 = M - r;
            std::vector<double> expected(4 * M4 * K + r * K + 8, kUntouched);
            for (int g = 0; g < M4 / 4; ++g) {
                for (int k = 0; k < K; ++k) {
                    for (int n = 0; n < 16; ++n) {
                        expected[16 * K * g + 16 * k + n] = k * M + 4 * g + n / 4 + 0.5;
                    }
                }
            }
            for (int k = 0; k < K; ++k) {
                for (int u = 0; u < r; ++u) expected[4 * M4 * K + r * k + u] = k * M + M4 + u + 0.5;
            }
            ASSERT_EQ(Broadcast(M, K, expected.size()), expected) << "M " << M << " K " << K;
        }
    }
}

TEST_F(Tavrel8x4Packing, BroadcastOfEmptySizesWritesNothing) {
    for (const auto& [M, K] : {std::pair{0, 3}, {3, 0}, {-1, 3}}) {
        EXPECT_EQ(Broadcast(M, K, 16), std::vector<double>(16, kUntouched));
    }
}

}  // namespace
