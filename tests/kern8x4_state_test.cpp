// The slot state of Tavrel_8x4: Init, Free and the GET accessors as a state
// machine (Empty, Ready), zero-filled aligned slots, failures that leave the
// library Empty, the CC comparison and the AVX test.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <set>
#include <string>

#include "Tavrel_8x4.h"
#include "relative_compare.h"

namespace {

// Taken during static initialisation, before any test calls Init.
const bool kEmptyAtLoad = TAVREL_AVX_8X4_GET_AA() == nullptr &&
                          TAVREL_AVX_8X4_GET_BB() == nullptr && TAVREL_AVX_8X4_GET_CC() == nullptr;

bool IsEmpty() { return TAVREL_AVX_8X4_GET_AA() == nullptr && TAVREL_AVX_8X4_GET_BB() == nullptr; }

bool Aligned32(const double* p) { return reinterpret_cast<std::uintptr_t>(p) % 32 == 0; }

// Every slot of both tables 32-byte aligned and all zeros.
::testing::AssertionResult SlotsAreZeroAndAligned(int slots, std::int64_t aa_count,
                                                  std::int64_t bb_count) {
    for (int t = 0; t < slots; ++t) {
        const double* aa = TAVREL_AVX_8X4_GET_AA()[t];
        const double* bb = TAVREL_AVX_8X4_GET_BB()[t];
        if (!Aligned32(aa) || !Aligned32(bb))
            return ::testing::AssertionFailure() << "slot " << t << " unaligned";
        for (std::int64_t n = 0; n < aa_count; ++n) {
            if (aa[n] != 0.0)
                return ::testing::AssertionFailure() << "AA slot " << t << " at " << n;
        }
        for (std::int64_t n = 0; n < bb_count; ++n) {
            if (bb[n] != 0.0)
                return ::testing::AssertionFailure() << "BB slot " << t << " at " << n;
        }
    }
    return ::testing::AssertionSuccess();
}

class Tavrel8x4SlotState : public ::testing::Test {
protected:
    void SetUp() override { TAVREL_AVX_8X4_Free(); }
    void TearDown() override { TAVREL_AVX_8X4_Free(); }
};

TEST_F(Tavrel8x4SlotState, EmptyBeforeInitAndAfterEachFree) {
    EXPECT_TRUE(kEmptyAtLoad);
    ASSERT_EQ(TAVREL_AVX_8X4_Init(8, 8, 4, 2), 1);
    EXPECT_NE(TAVREL_AVX_8X4_GET_AA(), nullptr);
    EXPECT_NE(TAVREL_AVX_8X4_GET_BB(), nullptr);
    TAVREL_AVX_8X4_Free();
    EXPECT_TRUE(IsEmpty());
    TAVREL_AVX_8X4_Free();  // a second Free does nothing
    EXPECT_TRUE(IsEmpty());
    EXPECT_EQ(TAVREL_AVX_8X4_GET_CC(), nullptr);
}

TEST_F(Tavrel8x4SlotState, SmallSlotsAreAlignedZerosOfTheirSize) {
    ASSERT_EQ(TAVREL_AVX_8X4_Init(100, 30, 20, 3), 1);
    EXPECT_TRUE(SlotsAreZeroAndAligned(3, 100 * 20, 100 * 30));
}

TEST_F(Tavrel8x4SlotState, LargeSlotsAreAlignedZerosOfTheirSize) {
    ASSERT_EQ(TAVREL_AVX_8X4_Init(1000, 300, 200, 2), 1);
    EXPECT_TRUE(SlotsAreZeroAndAligned(2, 1000 * 200, 1000 * 300));
    TAVREL_AVX_8X4_GET_BB()[1][1000 * 300 - 1] = 1.0;  // the last element is usable
}

TEST_F(Tavrel8x4SlotState, ZeroSlotsGiveEmptyTablesAndSuccess) {
    ASSERT_EQ(TAVREL_AVX_8X4_Init(8, 8, 8, 0), 1);
    EXPECT_NE(TAVREL_AVX_8X4_GET_AA(), nullptr);
    EXPECT_NE(TAVREL_AVX_8X4_GET_BB(), nullptr);
}

TEST_F(Tavrel8x4SlotState, ZeroExtentsGiveUsableSlots) {
    ASSERT_EQ(TAVREL_AVX_8X4_Init(0, 0, 0, 2), 1);
    EXPECT_NE(TAVREL_AVX_8X4_GET_AA()[1], nullptr);
    EXPECT_NE(TAVREL_AVX_8X4_GET_BB()[1], nullptr);
}

TEST_F(Tavrel8x4SlotState, ImpossibleSizesFailAndLeaveTheLibraryEmpty) {
    const int kMax = std::numeric_limits<int>::max();
    const int cases[][4] = {
        {8, 8, 8, -1},         // negative slot count
        {-8, 8, 8, 1},         // negative order
        {8, -8, 8, 1},         // negative BB extent
        {8, 8, -8, 1},         // negative AA extent
        {-8, -8, -8, 1},       // negative operands with a positive product
        {46341, 46341, 1, 1},  // n * bb_extent beyond 32 bits
        {65536, 1, 32768, 1},  // n * aa_extent = 2^31
        {kMax, kMax, kMax, 1},
        {8, 8, 8, 4097},            // more slots than any machine has threads
        {46340, 46340, 46340, 64},  // 2 TiB of slots: more than the physical memory
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TAVREL_AVX_8X4_Init(c[0], c[1], c[2], c[3]), 0)
            << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
        EXPECT_TRUE(IsEmpty());
        TAVREL_AVX_8X4_Free();  // always safe
    }
}

TEST_F(Tavrel8x4SlotState, InitOnAReadyLibraryReplacesTheSlots) {
    ASSERT_EQ(TAVREL_AVX_8X4_Init(16, 16, 16, 2), 1);
    TAVREL_AVX_8X4_GET_AA()[0][0] = 3.0;
    TAVREL_AVX_8X4_GET_BB()[1][5] = 4.0;
    ASSERT_EQ(TAVREL_AVX_8X4_Init(16, 16, 16, 3), 1);  // the earlier slots are released
    EXPECT_TRUE(SlotsAreZeroAndAligned(3, 256, 256));
    // A failed Init on a Ready library also releases the earlier slots.
    EXPECT_EQ(TAVREL_AVX_8X4_Init(16, 16, 16, -1), 0);
    EXPECT_TRUE(IsEmpty());
}

// Slots of every size, mapped (256 KiB and more) or from the allocator,
// reused by the next Init read as zeros again, whether the lengths match,
// partly match or the slots are fewer, and no slot is handed out twice.
TEST_F(Tavrel8x4SlotState, ReusedSlotsOfEverySizeReadAsZerosAgain) {
    const int inits[][4] = {{1000, 300, 200, 2}, {1000, 300, 200, 2}, {1000, 300, 100, 3},
                            {1000, 300, 200, 1}, {176, 176, 176, 2},  {176, 176, 176, 2},
                            {100, 20, 10, 3},    {176, 176, 176, 1},  {1000, 300, 10, 2},
                            {100, 20, 10, 4}};
    for (const auto& i : inits) {
        ASSERT_EQ(TAVREL_AVX_8X4_Init(i[0], i[1], i[2], i[3]), 1);
        const std::int64_t aa_count = std::int64_t{i[0]} * i[2],
                           bb_count = std::int64_t{i[0]} * i[1];
        EXPECT_TRUE(SlotsAreZeroAndAligned(i[3], aa_count, bb_count))
            << i[0] << " " << i[1] << " " << i[2] << " " << i[3];
        std::set<const double*> distinct;
        for (int t = 0; t < i[3]; ++t) {
            distinct.insert(TAVREL_AVX_8X4_GET_AA()[t]);
            distinct.insert(TAVREL_AVX_8X4_GET_BB()[t]);
        }
        EXPECT_EQ(distinct.size(), 2u * i[3]) << "a kept slot handed out twice";
        for (int t = 0; t < i[3]; ++t) {
            std::fill_n(TAVREL_AVX_8X4_GET_AA()[t], aa_count, 7.0);
            std::fill_n(TAVREL_AVX_8X4_GET_BB()[t], bb_count, -7.0);
        }
        TAVREL_AVX_8X4_Free();
    }
}

// Free keeps the slots for an Init of the same sizes: small slots as well as
// mapped ones come back as the same, already touched memory, so a product
// after the first faults no page in.
TEST_F(Tavrel8x4SlotState, AnInitOfTheSameSizesGetsTheSameSlotsBack) {
    for (const int n : {40, 176, 1000}) {
        ASSERT_EQ(TAVREL_AVX_8X4_Init(n, 176, 176, 2), 1);
        std::set<const double*> before;
        for (int t = 0; t < 2; ++t) {
            before.insert(TAVREL_AVX_8X4_GET_AA()[t]);
            before.insert(TAVREL_AVX_8X4_GET_BB()[t]);
        }
        TAVREL_AVX_8X4_Free();
        // An allocation in between would take freed memory of that size.
        void* interloper = std::malloc(sizeof(double) * n * 176);
        ASSERT_EQ(TAVREL_AVX_8X4_Init(n, 176, 176, 2), 1);
        std::free(interloper);
        std::set<const double*> after;
        for (int t = 0; t < 2; ++t) {
            after.insert(TAVREL_AVX_8X4_GET_AA()[t]);
            after.insert(TAVREL_AVX_8X4_GET_BB()[t]);
        }
        EXPECT_EQ(before, after) << "n " << n;
        TAVREL_AVX_8X4_Free();
    }
}

std::int64_t VmSizeKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) return std::stoll(line.substr(7));
    }
    return -1;
}

// An Init holds no memory but its own slots: what Free kept and the new
// slots cannot use is unmapped, and a failed Init keeps nothing.
TEST_F(Tavrel8x4SlotState, KeptMappingsNeverOutliveTheNextInit) {
    EXPECT_EQ(TAVREL_AVX_8X4_Init(8, 8, 8, -1), 0);  // drops anything kept
    const std::int64_t base = VmSizeKib();
    ASSERT_GT(base, 0);
    constexpr std::int64_t kSlackKib = 2048;
    ASSERT_EQ(TAVREL_AVX_8X4_Init(1000, 300, 200, 2), 1);  // 2 x (2 + 4) MiB
    TAVREL_AVX_8X4_Free();
    ASSERT_EQ(TAVREL_AVX_8X4_Init(1000, 1000, 1000, 1), 1);  // 2 x 8 MiB, none reusable
    EXPECT_LE(VmSizeKib() - base, 16 * 1024 + kSlackKib);
    TAVREL_AVX_8X4_Free();
    EXPECT_EQ(TAVREL_AVX_8X4_Init(8, 8, 8, -1), 0);
    EXPECT_LE(VmSizeKib() - base, kSlackKib);
}

// Free keeps what KeptBytes says; Release gives it back to the system at
// any time and leaves a Ready library's slots as they are.
TEST_F(Tavrel8x4SlotState, ReleaseGivesBackWhatFreeKept) {
    TAVREL_AVX_8X4_Release();
    EXPECT_EQ(TAVREL_AVX_8X4_KeptBytes(), 0);
    const std::int64_t base = VmSizeKib();
    ASSERT_EQ(TAVREL_AVX_8X4_Init(1000, 1000, 1000, 1), 1);  // 2 x 8 MiB
    TAVREL_AVX_8X4_Free();
    EXPECT_EQ(TAVREL_AVX_8X4_KeptBytes(), 16ll << 20);
    TAVREL_AVX_8X4_Release();
    EXPECT_EQ(TAVREL_AVX_8X4_KeptBytes(), 0);
    EXPECT_LE(VmSizeKib() - base, 2048);

    ASSERT_EQ(TAVREL_AVX_8X4_Init(16, 16, 16, 2), 1);
    TAVREL_AVX_8X4_Release();  // nothing kept while Ready: the slots stay
    ASSERT_NE(TAVREL_AVX_8X4_GET_AA(), nullptr);
    EXPECT_TRUE(SlotsAreZeroAndAligned(2, 256, 256));
    TAVREL_AVX_8X4_Free();
    EXPECT_EQ(TAVREL_AVX_8X4_KeptBytes(), 4 * 16 * 16 * 8);
}

// Kept mappings that the next Init cannot use are unmapped before it maps
// new slots: with the address space capped below kept + new, that Init
// still succeeds (in a child process, as the cap cannot be lifted).
TEST_F(Tavrel8x4SlotState, KeptMappingsDoNotCrowdOutTheNextInit) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (TAVREL_AVX_8X4_Init(1000, 200, 200, 8) != 1) _exit(2);  // 16 slots of 2 MiB
        TAVREL_AVX_8X4_Free();
        const std::int64_t kept_kib = 16 * 2048, vm_kib = VmSizeKib();
        // The next Init needs 2 + 8 MiB, and 2 MiB more while it aligns a mapping;
        // the rest is room for the allocator.
        const rlim_t limit = static_cast<rlim_t>(vm_kib - kept_kib + 24 * 1024) * 1024;
        const rlimit cap{limit, limit};
        if (vm_kib <= kept_kib || setrlimit(RLIMIT_AS, &cap) != 0) _exit(2);
        _exit(TAVREL_AVX_8X4_Init(1000, 1000, 200, 1) == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Available address space capped in a child process: Init runs out of memory
// after a few slots, must report 0, release them and leave the library Empty.
TEST_F(Tavrel8x4SlotState, AllocationFailurePartWayLeavesTheLibraryEmpty) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::ifstream status("/proc/self/status");
        std::string line;
        std::uint64_t vm_kib = 0;
        while (std::getline(status, line)) {
            if (line.rfind("VmSize:", 0) == 0) vm_kib = std::stoull(line.substr(7));
        }
        const rlim_t limit = vm_kib * 1024 + (rlim_t{256} << 20);
        const rlimit cap{limit, limit};
        if (vm_kib == 0 || setrlimit(RLIMIT_AS, &cap) != 0) _exit(2);
        // Slots of 64 MiB each, 32 of them: far beyond the 256 MiB headroom.
        const int result = TAVREL_AVX_8X4_Init(4096, 2048, 2048, 16);
        const bool empty = IsEmpty();
        TAVREL_AVX_8X4_Free();
        _exit(result == 0 && empty ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Tavrel8x4CompCwithCC, WithoutAReferenceNoMatchIsClaimed) {
    double c[4] = {1.0, 2.0, 3.0, 4.0};
    EXPECT_EQ(TAVREL_AVX_8X4_GET_CC(), nullptr);
    EXPECT_EQ(TAVREL_AVX_8X4_CompCwithCC(c, 2, 2), 0);
    EXPECT_EQ(TAVREL_AVX_8X4_CompCwithCC(c, 0, 0), 0);
}

TEST(Tavrel8x4RelativeComparison, ScalesEveryDifferenceByTheLargestMagnitude) {
    using tavrel8x4::MatchesRelative;
    const double c[3] = {-1000.0, 1.0, 0.0};
    const double close[3] = {-1000.0, 1.0 + 5e-7, 0.0};  // 5e-7 / 1000 = 5e-10
    const double far[3] = {-1000.0, 1.0 + 5e-6, 0.0};
    EXPECT_EQ(MatchesRelative(c, c, 3), 1);
    EXPECT_EQ(MatchesRelative(c, close, 3), 1);
    EXPECT_EQ(MatchesRelative(c, far, 3), 0);
}

TEST(Tavrel8x4RelativeComparison, ARatioOfExactlyTheThresholdMatches) {
    using tavrel8x4::MatchesRelative;
    const double c[2] = {1.0, 0.0};
    const double at[2] = {1.0, 1e-9};
    const double above[2] = {1.0, std::nextafter(1e-9, 1.0)};
    EXPECT_EQ(MatchesRelative(c, at, 2), 1);
    EXPECT_EQ(MatchesRelative(c, above, 2), 0);
}

TEST(Tavrel8x4RelativeComparison, AllZeroCMatchesOnlyAnIdenticalReference) {
    using tavrel8x4::MatchesRelative;
    const double zeros[3] = {0.0, 0.0, 0.0};
    const double one_off[3] = {0.0, 1e-300, 0.0};
    EXPECT_EQ(MatchesRelative(zeros, zeros, 3), 1);  // 0/0 is not above the threshold
    EXPECT_EQ(MatchesRelative(zeros, one_off, 3), 0);
}

TEST(Tavrel8x4RelativeComparison, NaNNeverCountsAsAMismatchAndEmptyMatches) {
    using tavrel8x4::MatchesRelative;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double c[3] = {nan, 2.0, 1.0};
    const double ref[3] = {5.0, 2.0, nan};
    EXPECT_EQ(MatchesRelative(c, ref, 3), 1);
    EXPECT_EQ(MatchesRelative(nullptr, nullptr, 0), 1);
    EXPECT_EQ(MatchesRelative(nullptr, nullptr, -4), 1);
}

TEST(Tavrel8x4Processor, AvxTestAgreesWithTheCompilersCpuModel) {
    __builtin_cpu_init();
    EXPECT_EQ(isAVXenable(), __builtin_cpu_supports("avx") ? 1 : 0);
}

}  // namespace
