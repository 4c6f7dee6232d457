// Methods 1 to 3: HP, Block_cache and the blocked 2x2-register packed product.
#include <cblas.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "matrices.h"
#include "method_table.h"
#include "methods.h"
#include "run_parameters.h"
#include "support/recorders.h"

namespace {
using Notices = std::vector<std::string>;
constexpr std::size_t kGuard = 8;
constexpr double kUntouched = -12345.5;

// A buffer of `size` doubles between guard zones. Guards of matrices that are
// only read hold NaN, so a read beyond the buffer shows in the product;
// guards of C hold kUntouched, so a write beyond it shows in GuardsIntact.
class GuardedBuffer {
public:
    GuardedBuffer(std::size_t size, double guard)
        : guard_(guard), storage_(size + 2 * kGuard, guard) {}
    double* data() { return storage_.data() + kGuard; }
    const double* data() const { return storage_.data() + kGuard; }
    double& operator[](std::size_t i) { return data()[i]; }
    std::size_t size() const { return storage_.size() - 2 * kGuard; }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (!SameBits(storage_[i], guard_) ||
                !SameBits(storage_[storage_.size() - 1 - i], guard_)) {
                return false;
            }
        }
        return true;
    }
    std::vector<double> Content() const { return {data(), data() + size()}; }

private:
    static bool SameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }
    double guard_;
    std::vector<double> storage_;
};

// The three buffers of a run of order n (n*n+2 doubles each). Index 0 and
// n*n+1 hold no element: NaN in A and B, kUntouched in C.
struct Matrices {
    explicit Matrices(int n)
        : n(n),
          a(Size(n), std::numeric_limits<double>::quiet_NaN()),
          b(Size(n), std::numeric_limits<double>::quiet_NaN()),
          c(Size(n), kUntouched) {
        for (std::size_t i = 1; i + 1 < Size(n); ++i) c[i] = 0.0;
    }
    static std::size_t Size(int n) { return static_cast<std::size_t>(n) * n + 2; }

    // The run's preparation: A(r, c) = 1 + r*n + c from index 1, B = 100*A.
    static Matrices Prepared(int n) {
        Matrices m(n);
        std::int32_t level = 0;
        PrepareMatrices(kMethodHp, n, m.a.data(), m.b.data(), level);
        return m;
    }
    // Values in [-1, 1) whose products round, so that summation order shows.
    static Matrices Random(int n, unsigned seed) {
        Matrices m(n);
        std::mt19937 engine(seed);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        for (std::size_t i = 1; i + 1 < Size(n); ++i) {
            m.a[i] = value(engine);
            m.b[i] = value(engine);
        }
        return m;
    }
    // C as the run leaves it, element 0 and n*n+1 included.
    std::vector<double> Product() const { return c.Content(); }
    bool EdgesUntouched() const {
        return a.GuardsIntact() && b.GuardsIntact() && c.GuardsIntact() &&
               c.data()[0] == kUntouched && c.data()[Size(n) - 1] == kUntouched;
    }

    int n;
    GuardedBuffer a, b, c;
};

std::vector<double> ClassicOf(const Matrices& m) {
    Matrices reference = m;
    MultClassic(m.n, reference.a.data(), reference.b.data(), reference.c.data());
    return reference.Product();
}

std::vector<double> HpOf(Matrices m, int threads = 1, std::uint32_t chunk = 1) {
    EXPECT_TRUE(MultHP(m.n, threads, chunk, kParallelOpenMp, m.a.data(), m.b.data(), m.c.data()));
    EXPECT_TRUE(m.EdgesUntouched());
    return m.Product();
}

std::vector<double> BlockCacheOf(Matrices m, int l_block, int threads) {
    EXPECT_TRUE(
        MultBlockCache(m.n, l_block, threads, kParallelOpenMp, m.a.data(), m.b.data(), m.c.data()));
    EXPECT_TRUE(m.EdgesUntouched()) << "l_block " << l_block << ", threads " << threads;
    return m.Product();
}

// Method 3's scratch rows, each exactly nb doubles (all the method may use).
struct WorkRows {
    explicit WorkRows(int nb) : rows(nb, std::vector<double>(nb)), table(nb) {
        for (int p = 0; p < nb; ++p) table[p] = rows[p].data();
    }
    std::vector<std::vector<double>> rows;
    std::vector<double*> table;
};

// Method 3 as the run calls it: square, each buffer advanced by one element.
std::vector<double> BlockPackOf(Matrices m, int nb) {
    WorkRows work(nb);
    MultBlockPack_2x2(m.n, m.n, m.n, nb, m.a.data() + 1, m.b.data() + 1, m.c.data() + 1,
                      work.table.data());
    EXPECT_TRUE(m.EdgesUntouched()) << "n " << m.n << ", nb " << nb;
    return m.Product();
}
}  // namespace

TEST(Hp, OrderTwoGivesTheClassicExample) {
    EXPECT_EQ(HpOf(Matrices::Prepared(2)),
              (std::vector<double>{kUntouched, 700, 1000, 1500, 2200, kUntouched}));
}

TEST(Hp, AgreesWithClassicWithinTheCheckTolerance) {
    NoticeRecorder notices;
    Matrices m = Matrices::Random(45, 1);
    MultHP(m.n, 2, 7, kParallelOpenMp, m.a.data(), m.b.data(), m.c.data());
    EXPECT_EQ(CheckResult(kMethodHp, m.n, m.a.data(), m.b.data(), m.c.data(), 0),
              CheckVerdict::Passed);
    EXPECT_TRUE(notices.notices.empty());
}

TEST(Hp, SameBitsForEveryThreadCountAndChunk) {
    const Matrices m = Matrices::Random(37, 2);
    const std::vector<double> one_thread = HpOf(m, 1, 1);
    for (int threads : {1, 2, 3, 8}) {
        for (std::uint32_t chunk : {0u, 1u, 3u, 12u, 37u, 100u, 4294967295u}) {
            EXPECT_EQ(HpOf(m, threads, chunk), one_thread)
                << threads << " threads, chunk " << chunk;
        }
    }
}

TEST(Hp, ChunkZeroWithMoreThreadsThanRowsComputesEveryRowOnce) {
    // C is added into: a row computed twice would hold twice its value.
    const Matrices m = Matrices::Prepared(3);
    EXPECT_EQ(HpOf(m, 8, 0), ClassicOf(m));
    EXPECT_EQ(HpOf(m, 0, 0), ClassicOf(m));  // a thread count below 1 runs on one
}

TEST(Hp, TbbIsRefusedAndNothingIsComputed) {
    NoticeRecorder notices;
    Matrices m = Matrices::Prepared(4);
    const std::vector<double> before = m.Product();
    EXPECT_FALSE(MultHP(m.n, 2, 1, kParallelTbb, m.a.data(), m.b.data(), m.c.data()));
    EXPECT_EQ(notices.notices, Notices{"TBB does not support"});
    EXPECT_EQ(m.Product(), before);
}

TEST(BlockCache, SameBitsAsHpForEveryBlockOrderAndThreadCount) {
    // 36 has even and odd divisors; 45 only odd ones, so every block ends with
    // a single row.
    for (int n : {36, 45}) {
        const Matrices m = Matrices::Random(n, 3);
        const std::vector<double> hp = HpOf(m);
        for (int l_block = 1; l_block <= n; ++l_block) {
            if (n % l_block != 0) continue;
            for (int threads : {1, 2, 5}) {
                EXPECT_EQ(BlockCacheOf(m, l_block, threads), hp)
                    << n << " " << l_block << " " << threads;
            }
        }
    }
}

TEST(BlockCache, OddBlockOrderAsTheRunLowersItTouchesOnlyTheMatrix) {
    // n 9 lowers l_block to 9: one block whose last row has no partner.
    const Matrices m = Matrices::Prepared(9);
    EXPECT_EQ(BlockCacheOf(m, 9, 2), ClassicOf(m));
    EXPECT_EQ(BlockCacheOf(Matrices::Prepared(1), 1, 1), ClassicOf(Matrices::Prepared(1)));
}

TEST(BlockCache, BlockProductTouchesOnlyItsBlock) {
    // The 3 x 3 block at (1, 1) of order-5 matrices.
    Matrices m = Matrices::Prepared(5);
    const std::size_t first = 1 + 1 * 5 + 1;
    MultCacheBlock(3, 5, m.a.data() + first, m.b.data() + first, m.c.data() + first);
    for (int r = 0; r < 5; ++r) {
        for (int col = 0; col < 5; ++col) {
            double expected = 0.0;
            if (r >= 1 && r <= 3 && col >= 1 && col <= 3) {
                for (int k = 1; k <= 3; ++k) expected += m.a[1 + r * 5 + k] * m.b[1 + k * 5 + col];
            }
            EXPECT_EQ(m.c[1 + r * 5 + col], expected) << r << ", " << col;
        }
    }
    EXPECT_TRUE(m.EdgesUntouched());
    MultCacheBlock(0, 5, nullptr, nullptr, nullptr);  // an empty block reads nothing
}

TEST(BlockCache, ConflictBetweenOrderAndBlockComputesNothing) {
    for (int l_block : {8, 0, -4}) {
        NoticeRecorder notices;
        Matrices m = Matrices::Prepared(12);
        const std::vector<double> before = m.Product();
        EXPECT_FALSE(
            MultBlockCache(12, l_block, 2, kParallelOpenMp, m.a.data(), m.b.data(), m.c.data()));
        EXPECT_EQ(notices.notices, Notices{"Conflict between N and lblck"}) << l_block;
        EXPECT_EQ(m.Product(), before);
    }
}

TEST(BlockCache, TbbIsNoticedButComputedWithOpenMp) {
    {
        NoticeRecorder notices;
        Matrices m = Matrices::Prepared(8);
        EXPECT_TRUE(MultBlockCache(8, 4, 2, kParallelTbb, m.a.data(), m.b.data(), m.c.data()));
        EXPECT_EQ(notices.notices, Notices{"TBB does not support"});
        EXPECT_EQ(m.Product(), ClassicOf(Matrices::Prepared(8)));
    }
    {
        NoticeRecorder notices;
        Matrices m = Matrices::Prepared(12);
        EXPECT_FALSE(MultBlockCache(12, 8, 2, kParallelTbb, m.a.data(), m.b.data(), m.c.data()));
        EXPECT_EQ(notices.notices,
                  (Notices{"TBB does not support", "Conflict between N and lblck"}));
    }
}

// The run learns from the table's entry point whether there is a product;
// a notice alone does not say.
TEST(MethodTable, EntryPointsSayWhetherTheyComputedTheProduct) {
    NoticeRecorder notices;
    Matrices m = Matrices::Prepared(12);
    MethodOperands o;
    o.n = m.n;
    o.l_block = 8;  // 12 is no multiple of it
    o.threads = 2;
    o.chunk = 6;
    o.a = m.a.data();
    o.b = m.b.data();
    o.c = m.c.data();
    EXPECT_FALSE(FindMethod(kMethodBlockCache)->multiply(o));
    o.parallel_kind = kParallelTbb;
    EXPECT_FALSE(FindMethod(kMethodHp)->multiply(o));
    EXPECT_EQ(m.Product(), Matrices::Prepared(12).Product());  // nothing computed
    o.l_block = 4;
    EXPECT_TRUE(FindMethod(kMethodBlockCache)->multiply(o));  // computes all the same
    EXPECT_EQ(m.Product(), ClassicOf(m));
    EXPECT_TRUE(FindMethod(kMethodClassic)->multiply(o));
    EXPECT_EQ(notices.notices, (Notices{"Conflict between N and lblck", "TBB does not support",
                                        "TBB does not support"}));
}

TEST(BlockPack2x2, OrderTwoLeavesTheClassicBufferContent) {
    EXPECT_EQ(BlockPackOf(Matrices::Prepared(2), 2),
              (std::vector<double>{kUntouched, 700, 1000, 1500, 2200, kUntouched}));
}

TEST(BlockPack2x2, PartialAndOddBlocksLeaveTheClassicBufferContent) {
    // On the prepared data every partial sum is an integer below 2^53, so any
    // order of summation gives the same bits. Blocks of 8 and more also take
    // the wide register tiles with rows and columns left over.
    for (int n : {1, 2, 3, 7, 9, 33}) {
        const Matrices m = Matrices::Prepared(n);
        const std::vector<double> classic = ClassicOf(m);
        for (int nb : {1, 2, 3, 4, 5, 8, 14, n + 3}) {
            EXPECT_EQ(BlockPackOf(m, nb), classic) << "n " << n << ", nb " << nb;
        }
    }
}

TEST(BlockPack2x2, RectangularColumnMajorProductMatchesBlas) {
    // C (m x n) += A (m x k) * B (k x n), leading dimensions m, k and m.
    struct Shape {
        int m, n, k, nb;
    };
    for (const Shape s : {Shape{19, 23, 17, 8}, Shape{40, 13, 29, 16}, Shape{9, 31, 50, 20},
                          Shape{64, 64, 64, 24}}) {
        std::mt19937 engine(s.m * 100 + s.n);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        std::vector<double> a(s.m * s.k), b(s.k * s.n), c(s.m * s.n);
        for (double& x : a) x = value(engine);
        for (double& x : b) x = value(engine);
        for (double& x : c) x = value(engine);  // added into
        std::vector<double> expected = c;
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, s.m, s.n, s.k, 1.0, a.data(), s.m,
                    b.data(), s.k, 1.0, expected.data(), s.m);
        WorkRows work(s.nb);
        MultBlockPack_2x2(s.m, s.n, s.k, s.nb, a.data(), b.data(), c.data(), work.table.data());
        for (std::size_t i = 0; i < c.size(); ++i) {
            ASSERT_NEAR(c[i], expected[i], 1e-12 * s.k)
                << s.m << "x" << s.n << "x" << s.k << " at " << i;
        }
    }
}

TEST(BlockPack2x2, EmptyExtentsReadAndWriteNothing) {
    MultBlockPack_2x2(4, 4, 0, 4, nullptr, nullptr, nullptr, nullptr);  // K < 1
    MultBlockPack_2x2(4, 4, 4, 0, nullptr, nullptr, nullptr, nullptr);  // no block size
    Matrices m = Matrices::Prepared(4);
    const std::vector<double> before = m.Product();
    WorkRows work(4);
    MultBlockPack_2x2(0, 4, 4, 4, m.a.data() + 1, m.b.data() + 1, m.c.data() + 1,
                      work.table.data());
    MultBlockPack_2x2(4, 0, 4, 4, m.a.data() + 1, m.b.data() + 1, m.c.data() + 1,
                      work.table.data());
    EXPECT_EQ(m.Product(), before);
}

namespace {
RunResult CheckedRun(int method, int n, int l_block, int threads, RecordingSink& sink) {
    RunParameters params;
    params.method = method;
    params.n = n;
    params.l_block = l_block;
    params.threads = threads;
    params.check = true;
    return RunBenchmark(params, sink);
}
}  // namespace

TEST(MethodRuns, EachMethodPassesTheCheckWithOneAndTwoThreads) {
    // n 300 with the default block runs at n 176; with l_block 100 at n 300.
    for (int method : {kMethodHp, kMethodBlockCache, kMethodBlockPack2x2}) {
        for (int l_block : {176, 100}) {
            for (int threads : {1, 2}) {
                NoticeRecorder notices;
                RecordingSink sink;
                const RunResult result = CheckedRun(method, 300, l_block, threads, sink);
                EXPECT_EQ(result.outcome, RunOutcome::Completed);
                EXPECT_EQ(result.check, CheckVerdict::Passed)
                    << method << " " << l_block << " " << threads;
                EXPECT_EQ(sink.lines.size(), 4u);
                EXPECT_TRUE(notices.notices.empty());
            }
        }
    }
}

TEST(MethodRuns, OddOrderLowersTheBlockAndStillPasses) {
    // n 9 with the default block: l_block 9, an odd block order for methods 2 and 3.
    for (int method : {kMethodBlockCache, kMethodBlockPack2x2}) {
        NoticeRecorder notices;
        RecordingSink sink;
        const long live_before = memory_testing::LiveAllocations();
        EXPECT_EQ(CheckedRun(method, 9, 176, 2, sink).check, CheckVerdict::Passed);
        EXPECT_TRUE(notices.notices.empty());
        EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
    }
}

TEST(MethodRuns, MoreThreadsThanRowsGiveHpChunkZeroAndStillPass) {
    NoticeRecorder notices;
    RecordingSink sink;
    RunParameters params;
    params.method = kMethodHp;
    params.n = 3;
    params.threads = 8;
    params.check = true;
    const RunResult result = RunBenchmark(params, sink);
    EXPECT_EQ(result.check, CheckVerdict::Passed);
    EXPECT_EQ(result.parameters.chunk, 0u);
    EXPECT_TRUE(notices.notices.empty());
}

// HP under TBB forms no product: the run reports its lines, and the check,
// having nothing to check, is not done (no "Check Error" for a refusal).
TEST(MethodRuns, HpWithTbbReportsAnUnformedProductAndChecksNothing) {
    NoticeRecorder notices;
    RecordingSink sink;
    RunParameters params;
    params.method = kMethodHp;
    params.n = 20;
    params.parallel_kind = kParallelTbb;
    params.check = true;
    const RunResult result = RunBenchmark(params, sink);
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(notices.notices, (Notices{"TBB does not support"}));
    EXPECT_EQ(result.notices, (Notices{"TBB does not support"}));
    EXPECT_FALSE(result.product);
    EXPECT_EQ(result.check, CheckVerdict::NoProduct);
    EXPECT_EQ(sink.lines.size(), 4u);
}
