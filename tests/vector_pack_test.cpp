// Method 4 on both paths: the SSE2 path (level 0, libTavrel) and the AVX path
// (levels 1 and 2, libTavrel_8x4), against the closed form of the prepared
// matrices and against OpenBLAS on random matrices; the notices, the
// allocation failures and the run around it.
#include <cblas.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Tavrel_8x4.h"
#include "methods.h"
#include "support/recorders.h"

namespace {
using Notices = std::vector<std::string>;
constexpr double kUntouched = -12345.5;  // the element after the last one of C

// A, B and C of one call, n*n+2 doubles each (std::vector storage is 16-byte
// aligned), C zero with a marker at index n*n.
struct Matrices {
    explicit Matrices(int order) : n(order), a(Size(), 0.0), b(Size(), 0.0), c(Size(), 0.0) {
        c[Elements()] = kUntouched;
    }
    std::size_t Elements() const { return static_cast<std::size_t>(n) * n; }
    std::size_t Size() const { return Elements() + 2; }
    // B sits one element further on for the SSE2 path.
    double* BFirst(int level) { return level == kIsaSse2 ? b.data() + 1 : b.data(); }
    bool CUntouched() const {
        for (std::size_t i = 0; i < Elements(); ++i) {
            if (c[i] != 0.0) return false;
        }
        return c[Elements()] == kUntouched;
    }

    int n;
    std::vector<double> a, b, c;
};

// The prepared matrices of the run: A(r, c) = sqrt((r+1)(c+1)), B = 2A.
Matrices Prepared(int n, int level) {
    Matrices m(n);
    double* b = m.BFirst(level);
    for (int r = 0; r < n; ++r) {
        for (int col = 0; col < n; ++col) {
            const std::size_t i = static_cast<std::size_t>(r) * n + col;
            m.a[i] = std::sqrt(static_cast<double>((r + 1) * (col + 1)));
            b[i] = 2 * m.a[i];
        }
    }
    return m;
}

// Whether the method computed the product.
bool Multiply(Matrices& m, int l_block, int threads, int level,
              int parallel_kind = kParallelOpenMp) {
    return MultVectorPack(m.n, l_block, threads, parallel_kind, m.a.data(), m.b.data(), m.c.data(),
                          level);
}

void ExpectClosedForm(const Matrices& m) {
    const double n = m.n;
    for (int r = 0; r < m.n; ++r) {
        for (int col = 0; col < m.n; ++col) {
            const double expected = n * (n + 1) * std::sqrt((r + 1.0) * (col + 1.0));
            const double got = m.c[static_cast<std::size_t>(r) * m.n + col];
            ASSERT_NEAR(got, expected, 1e-12 * expected) << "r " << r << " c " << col;
        }
    }
    EXPECT_EQ(m.c[m.Elements()], kUntouched);
}

bool AvxAvailable() { return isAVXenable() == 1 && SupportedIsaLevel() >= kIsaAvx; }

// The levels this machine can run: 0 always, 1 and 2 with AVX.
std::vector<int> Levels() {
    if (!AvxAvailable()) return {kIsaSse2};
    return {kIsaSse2, kIsaAvx, kIsaAvxFma3};
}

struct Shape {
    int n, l_block, threads;
};
}  // namespace

TEST(VectorPack, GivesTheClosedFormOnEveryPath) {
    const Shape shapes[] = {
        {24, 8, 1},  {24, 8, 2}, {24, 8, 3},  // three row blocks
        {12, 12, 2},                          // one depth block, one row block
        {16, 4, 7},                           // more threads than row blocks
        {64, 16, 3},
    };
    for (int level : Levels()) {
        for (const Shape& s : shapes) {
            SCOPED_TRACE(testing::Message() << "level " << level << " n " << s.n << " l_block "
                                            << s.l_block << " threads " << s.threads);
            NoticeRecorder notices;
            Matrices m = Prepared(s.n, level);
            Multiply(m, s.l_block, s.threads, level);
            ExpectClosedForm(m);
            EXPECT_EQ(notices.notices, Notices{});
        }
    }
}

TEST(VectorPack, AvxPathTakesBlocksThatAreNoMultipleOfFour) {
    if (!AvxAvailable()) GTEST_SKIP() << "no AVX";
    const Shape shapes[] = {{10, 10, 1}, {15, 5, 2}, {13, 13, 3}, {21, 7, 2}};
    for (const Shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << "n " << s.n << " l_block " << s.l_block);
        NoticeRecorder notices;
        Matrices m = Prepared(s.n, kIsaAvxFma3);
        Multiply(m, s.l_block, s.threads, kIsaAvxFma3);
        ExpectClosedForm(m);
        EXPECT_EQ(notices.notices, Notices{});
    }
}

// The threads share the work differently for every thread count (bands of
// columns on the AVX path, row blocks on the SSE2 path); every count must
// give the bits of the one-thread product, on both forms of Tavrel_8x4's
// kernel and on the SSE2 path (6 or 7 depth blocks and row blocks, bands
// that are no multiple of the register block, more threads than blocks).
TEST(VectorPack, EveryPathGivesTheSameBitsWithAnyThreadCount) {
    struct Path {
        const char* name;
        int level;
        int form_bits;
    };
    std::vector<Path> paths = {{"SSE2", kIsaSse2, 0}};
    if (AvxAvailable()) paths.push_back({"AVX form", kIsaAvxFma3, 256});
    if (AvxAvailable() && TAVREL_AVX_8X4_LimitFormBits(512) == 512) {
        paths.push_back({"AVX-512 form", kIsaAvxFma3, 512});
    }
    for (const Path& path : paths) {
        if (path.form_bits) TAVREL_AVX_8X4_LimitFormBits(path.form_bits);
        for (const auto& [n, l_block] :
             {std::pair{96, 16}, std::pair{112, 16}, std::pair{100, 20}}) {
            std::vector<std::vector<double>> products;
            for (const int threads : {1, 2, 3, 5, 9}) {
                Matrices m(n);
                std::mt19937_64 engine(11);
                std::uniform_real_distribution<double> value(-1.0, 1.0);
                for (std::size_t i = 0; i < m.Elements(); ++i)
                    m.a[i] = value(engine), m.b[i] = value(engine);
                Multiply(m, l_block, threads, path.level);
                products.push_back(m.c);
            }
            for (std::size_t t = 1; t < products.size(); ++t) {
                EXPECT_EQ(std::memcmp(products[0].data(), products[t].data(),
                                      products[0].size() * sizeof(double)),
                          0)
                    << path.name << ", n " << n << ", thread count #" << t;
            }
        }
    }
    TAVREL_AVX_8X4_LimitFormBits(512);  // back to the form chosen at load
}

// An order that is no multiple of the block: a short last row block and a
// shallow last depth block, with any number of threads.
TEST(VectorPack, AvxPathAddsAShortLastBlockWithAnyThreadCount) {
    if (!AvxAvailable()) GTEST_SKIP() << "no AVX";
    for (const int threads : {1, 2, 4}) {
        SCOPED_TRACE(testing::Message() << "threads " << threads);
        Matrices m = Prepared(37, kIsaAvxFma3);
        MultVectorPack_AVX(37, 8, threads, m.a.data(), m.b.data(), m.c.data());
        ExpectClosedForm(m);
    }
}

// Random A and B against cblas_dgemm, within the bound of the reference BLAS
// test programs: |c - c_ref| <= 16 eps sum_k |a_ik| |b_kj| for every element.
TEST(VectorPack, AgreesWithOpenBlasOnRandomMatrices) {
    const Shape shapes[] = {{64, 16, 1}, {96, 32, 2}, {120, 24, 3}};
    for (int level : Levels()) {
        for (const Shape& s : shapes) {
            SCOPED_TRACE(testing::Message() << "level " << level << " n " << s.n);
            const int n = s.n;
            Matrices m(n);
            std::mt19937_64 engine(static_cast<std::uint64_t>(n * 10 + level));
            std::uniform_real_distribution<double> value(-1.0, 1.0);
            double* b = m.BFirst(level);
            for (std::size_t i = 0; i < m.Elements(); ++i)
                m.a[i] = value(engine), b[i] = value(engine);
            Multiply(m, s.l_block, s.threads, level);

            // The SSE2 path stores row by row, the AVX path column by column.
            const CBLAS_ORDER order = level == kIsaSse2 ? CblasRowMajor : CblasColMajor;
            std::vector<double> expected(m.Elements()), bound(m.Elements());
            std::vector<double> a_abs(m.Elements()), b_abs(m.Elements());
            for (std::size_t i = 0; i < m.Elements(); ++i) {
                a_abs[i] = std::fabs(m.a[i]);
                b_abs[i] = std::fabs(b[i]);
            }
            cblas_dgemm(order, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, m.a.data(), n, b, n, 0.0,
                        expected.data(), n);
            cblas_dgemm(order, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, a_abs.data(), n,
                        b_abs.data(), n, 0.0, bound.data(), n);
            const double eps = std::numeric_limits<double>::epsilon();
            for (std::size_t i = 0; i < m.Elements(); ++i) {
                ASSERT_LE(std::fabs(m.c[i] - expected[i]), 16 * eps * bound[i]) << "index " << i;
            }
            EXPECT_EQ(m.c[m.Elements()], kUntouched);
        }
    }
}

TEST(VectorPack, RefusesAnOrderThatIsNoMultipleOfTheBlock) {
    for (int level : Levels()) {
        for (int l_block : {4, 0, -4}) {
            NoticeRecorder notices;
            Matrices m = Prepared(10, level);
            EXPECT_FALSE(Multiply(m, l_block, 2, level));
            EXPECT_EQ(notices.notices, Notices{"Conflict between N and lblck"});
            EXPECT_TRUE(m.CUntouched());
        }
    }
}

TEST(VectorPack, SsePathNeedsMultiplesOfFour) {
    {
        NoticeRecorder notices;
        Matrices m = Prepared(10, kIsaSse2);
        EXPECT_FALSE(Multiply(m, 10, 1, kIsaSse2));
        EXPECT_EQ(notices.notices, Notices{"Conflict between N and lbv or lbh"});
        EXPECT_TRUE(m.CUntouched());
    }
    NoticeRecorder notices;
    Matrices m = Prepared(12, kIsaSse2);
    EXPECT_TRUE(Multiply(m, 12, 1, kIsaSse2));
    EXPECT_EQ(notices.notices, Notices{});
    ExpectClosedForm(m);
}

TEST(VectorPack, TbbIsRefusedButTheProductIsComputed) {
    for (int level : Levels()) {
        NoticeRecorder notices;
        Matrices m = Prepared(16, level);
        EXPECT_TRUE(Multiply(m, 8, 2, level, kParallelTbb));
        EXPECT_EQ(notices.notices, Notices{"TBB does not support"});
        ExpectClosedForm(m);
    }
}

TEST(VectorPack, LevelZeroTakesTheSsePath) {
    Matrices m = Prepared(8, kIsaSse2);
    MultVectorPack(8, 4, 1, kParallelOpenMp, m.a.data(), m.b.data(), m.c.data(), kIsaSse2);
    ExpectClosedForm(m);
}

TEST(VectorPack, SsePathSizesItsTablesToMoreThan64Threads) {
    Matrices m = Prepared(320, kIsaSse2);
    Multiply(m, 4, 80, kIsaSse2);  // 80 row blocks, so high thread numbers get work
    ExpectClosedForm(m);
}

// The SSE2 path obtains the panel, its table and two buffers per thread; a
// failure at any of them leaves nothing allocated and C untouched.
TEST(VectorPack, AFailedAllocationLeavesNoBufferBehind) {
    const int threads = 3;
    const int allocations = 2 + 2 * threads;
    for (int nth = 1; nth <= allocations; ++nth) {
        SCOPED_TRACE(testing::Message() << "allocation " << nth);
        Matrices m = Prepared(16, kIsaSse2);
        const long live_before = memory_testing::LiveAllocations();
        NoticeRecorder notices;
        {
            ScopedAllocationFailure failure(nth);
            EXPECT_FALSE(Multiply(m, 8, threads, kIsaSse2));
        }
        EXPECT_EQ(notices.notices, Notices{"Memory allocation error"});
        EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
        EXPECT_TRUE(m.CUntouched());
    }
    NoticeRecorder notices;
    Matrices m = Prepared(16, kIsaSse2);
    {
        ScopedAllocationFailure failure(allocations + 1);  // one past the method's last
        EXPECT_TRUE(Multiply(m, 8, threads, kIsaSse2));
    }
    EXPECT_EQ(notices.notices, Notices{});
    ExpectClosedForm(m);
}

TEST(VectorPack, RefusesWorkThatDoesNotFitTheMemory) {
    for (int level : Levels()) {
        TAVREL_AVX_8X4_Release();  // nothing kept from earlier products
        NoticeRecorder notices;
        Matrices m = Prepared(64, level);
        const long live_before = memory_testing::LiveAllocations();
        {
            ScopedAvailableMemory memory(64 * 16 * sizeof(double));  // less than one panel
            EXPECT_FALSE(Multiply(m, 16, 2, level));
        }
        EXPECT_EQ(notices.notices, Notices{"Memory allocation error"});
        EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
        EXPECT_TRUE(m.CUntouched());
        EXPECT_EQ(TAVREL_AVX_8X4_GET_AA(), nullptr);
    }
}

// The slots Free kept from one product are in use already: the next
// product of the same shape needs no memory beyond them, and runs where
// only they would fit; once given back, they are asked for again.
TEST(VectorPack, AvxPathCountsTheSlotsItKeptAsItsOwn) {
    if (!AvxAvailable()) GTEST_SKIP() << "no AVX";
    const int level = Levels().back();
    Matrices m = Prepared(64, level);
    TAVREL_AVX_8X4_Release();
    Multiply(m, 16, 2, level);
    ASSERT_GT(TAVREL_AVX_8X4_KeptBytes(), 0);
    NoticeRecorder notices;
    {
        ScopedAvailableMemory memory(64 * 16 * sizeof(double));  // less than one panel
        EXPECT_TRUE(Multiply(m, 16, 2, level));
        EXPECT_EQ(notices.notices, Notices{});
        TAVREL_AVX_8X4_Release();
        EXPECT_FALSE(Multiply(m, 16, 2, level));
    }
    EXPECT_EQ(notices.notices, Notices{"Memory allocation error"});
}

TEST(VectorPack, AvxPathReportsAFailedInit) {
    if (!AvxAvailable()) GTEST_SKIP() << "no AVX";
    // A BB slot of n*n doubles with n 46341 overflows the library's 32-bit
    // count, so Init refuses before allocating anything.
    ScopedAvailableMemory memory(std::numeric_limits<std::uint64_t>::max());
    NoticeRecorder notices;
    Matrices m(4);
    EXPECT_FALSE(MultVectorPack_AVX(46341, 46341, 1, m.a.data(), m.b.data(), m.c.data()));
    EXPECT_EQ(notices.notices, Notices{"Memory allocation error"});
    EXPECT_EQ(TAVREL_AVX_8X4_GET_AA(), nullptr);
    EXPECT_TRUE(m.CUntouched());
}

namespace {
// The library's form back to its choice at load after tests that cap it.
struct AutoCapAtEnd {
    ~AutoCapAtEnd() { DecideVectorPath(VectorIsaCap::Auto); }
};
}  // namespace

TEST(VectorPack, RunsAndPassesTheCheckOnEveryPath) {
    const AutoCapAtEnd restore;
    const char* const lines[] = {"vectorization: SSE2", "vectorization: AVX",
                                 "vectorization: AVX+FMA3"};
    const VectorIsaCap caps[] = {VectorIsaCap::Sse2, VectorIsaCap::Avx, VectorIsaCap::Avx2};
    for (int level : Levels()) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        NoticeRecorder notices;
        RecordingSink sink;
        RunParameters params;
        params.isa_cap = caps[level];
        params.method = kMethodVectorPack;
        params.n = 100;
        params.l_block = 20;
        params.threads = 2;
        params.check = true;
        const RunResult result = RunBenchmark(params, sink);
        EXPECT_EQ(result.outcome, RunOutcome::Completed);
        EXPECT_EQ(result.isa_level, level);
        EXPECT_EQ(result.check, CheckVerdict::Passed);
        ASSERT_EQ(sink.lines.size(), 5u);
        EXPECT_EQ(sink.lines[0], "Matrices are prepared");
        EXPECT_EQ(sink.lines[1], lines[level]);
        EXPECT_EQ(notices.notices, Notices{});
    }
}

namespace {
// Method 4 through RunBenchmark with its check; the product is the method's
// own call, made in place of the run's dispatch so that C can be kept.
struct CheckedRun {
    RunResult result;
    std::int32_t level = -1;  // the level the product ran at
    std::vector<double> c;
};

CheckedRun RunVectorPackChecked(VectorIsaCap cap) {
    RunParameters params;
    params.isa_cap = cap;
    params.method = kMethodVectorPack;
    params.n = 96;
    params.l_block = 32;
    params.threads = 2;
    params.check = true;
    RecordingSink sink;
    RunBuffers buffers;
    CheckedRun run;
    run.result = RunBenchmark(
        params, sink, buffers, [&run](const RunParameters& p, RunBuffers& b, ReportSink&) {
            run.level =
                DecideVectorPath(p.isa_cap)->isa_level;  // the run's own decision, made again
            const bool computed = MultVectorPack(p.n, p.l_block, p.threads, p.parallel_kind, b.a,
                                                 b.b, b.c, run.level);
            run.c.assign(b.c, b.c + static_cast<std::size_t>(p.n) * p.n);
            return computed;
        });
    return run;
}
}  // namespace

// Every cap the processor allows runs the level and kernel form it names;
// the AVX levels give the same bits in both forms of Tavrel_8x4's kernel.
TEST(VectorPackIsaCap, EachCapRunsItsFormAndTheAvxFormsAgreeBitForBit) {
    const AutoCapAtEnd restore;
    const char* forced = std::getenv("TAVREL_8X4_FORM");
    const bool avx = SupportedIsaLevel() >= kIsaAvx;
    const bool avx2 = SupportedIsaLevel() >= kIsaAvxFma3;
    const bool avx512 =
        avx && TheProcessorInfo().RunsAvx512() && !(forced && std::string(forced) == "avx");
    const std::string sse2_form = "SSE2 4x4 (Tavrel)", avx_form = "AVX 8x4 (Tavrel_8x4)",
                      avx512_form = "AVX-512 24x8 (Tavrel_8x4)";
    struct Case {
        VectorIsaCap cap;
        const char* name;
        bool allowed;
        std::int32_t level;
        std::string form;
    };
    const Case cases[] = {
        {VectorIsaCap::Auto, "auto", true, SupportedIsaLevel(),
         !avx     ? sse2_form
         : avx512 ? avx512_form
                  : avx_form},
        {VectorIsaCap::Sse2, "sse2", true, kIsaSse2, sse2_form},
        {VectorIsaCap::Avx, "avx", avx, kIsaAvx, avx_form},
        {VectorIsaCap::Avx2, "avx2", avx2, kIsaAvxFma3, avx_form},
        {VectorIsaCap::Avx512, "avx512", avx512, kIsaAvxFma3, avx512_form},
    };
    std::vector<double> avx_product;
    std::set<std::string> avx_forms;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(DecideVectorPath(c.cap).has_value(), c.allowed);
        if (!c.allowed) continue;
        NoticeRecorder notices;
        const CheckedRun run = RunVectorPackChecked(c.cap);
        EXPECT_EQ(run.result.outcome, RunOutcome::Completed);
        EXPECT_TRUE(run.result.product);
        EXPECT_EQ(run.result.check, CheckVerdict::Passed);
        EXPECT_EQ(run.result.isa_level, c.level);
        EXPECT_EQ(run.level, c.level);
        EXPECT_EQ(VectorPackKernelForm(run.result.isa_level), c.form);
        EXPECT_EQ(notices.notices, Notices{});
        if (c.level == kIsaSse2) continue;
        avx_forms.insert(c.form);
        if (avx_product.empty()) {
            avx_product = run.c;
        } else {
            EXPECT_EQ(
                std::memcmp(avx_product.data(), run.c.data(), avx_product.size() * sizeof(double)),
                0);
        }
    }
    EXPECT_EQ(avx_forms.size(),
              static_cast<std::size_t>(avx) + avx512);  // both forms compared where both run
}

// Asking for the 512-bit form where it does not run is refused, changes
// nothing, and a run that asks for it is refused.
TEST(VectorPackIsaCap, Avx512IsRefusedWhereItDoesNotRun) {
    const AutoCapAtEnd restore;
    ASSERT_TRUE(DecideVectorPath(VectorIsaCap::Sse2).has_value());
    const char* forced = std::getenv("TAVREL_8X4_FORM");
    const bool runs = TheProcessorInfo().RunsAvx512() && !(forced && std::string(forced) == "avx");
    if (runs) GTEST_SKIP() << "this processor runs the 512-bit form";
    EXPECT_FALSE(DecideVectorPath(VectorIsaCap::Avx512).has_value());
    NoticeRecorder notices;
    const CheckedRun run = RunVectorPackChecked(VectorIsaCap::Avx512);
    EXPECT_EQ(run.result.outcome, RunOutcome::Refused);
    EXPECT_EQ(notices.notices.size(), 1u);
    EXPECT_NE(VectorPackKernelForm(kIsaAvxFma3), "AVX-512 24x8 (Tavrel_8x4)");
}
