// The memory guard on hand-made /proc and /sys trees: MemAvailable, the
// process's memory cgroup (v1 and v2, with the limits above it), the
// address-space and data limits, the threads' stacks, and the margins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "memory.h"

namespace {
namespace fs = std::filesystem;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

class FakeRoot {
public:
    FakeRoot()
        : root_(fs::path(::testing::TempDir()) /
                ("vorp_memory_" + std::to_string(getpid()) + "_" + std::to_string(++count_))) {
        fs::create_directories(root_);
        // A generous machine without limits unless a test sets one.
        Write("proc/meminfo", "MemTotal: 33554432 kB\nMemAvailable: 16777216 kB\n");
        Write("proc/self/limits",
              "Limit                     Soft Limit           Hard Limit           Units\n"
              "Max data size             unlimited            unlimited            bytes\n"
              "Max stack size            8388608              unlimited            bytes\n"
              "Max address space         unlimited            unlimited            bytes\n");
        Write("proc/self/status", "VmSize:\t   20480 kB\nVmData:\t    4096 kB\n");
    }
    ~FakeRoot() { fs::remove_all(root_); }
    void Write(const std::string& path, const std::string& text) {
        fs::create_directories((root_ / path).parent_path());
        std::ofstream(root_ / path) << text;
    }
    MemoryReading Read() const { return ReadMemory(root_.string()); }
    std::string Path() const { return root_.string(); }

private:
    fs::path root_;
    static inline int count_ = 0;
};
}  // namespace

TEST(MemoryGuard, NoCgroupLeavesMemAvailable) {
    FakeRoot root;
    const MemoryReading r = root.Read();
    EXPECT_EQ(r.mem_available, 16 * 1024 * kMiB);
    EXPECT_EQ(r.cgroup_headroom, kNoLimit);
    EXPECT_EQ(r.address_space_headroom, kNoLimit);
    EXPECT_EQ(r.thread_stack, 8 * kMiB);
}

TEST(MemoryGuard, CgroupV2TakesTheTightestLimitOnTheWayUp) {
    FakeRoot root;
    root.Write("proc/self/cgroup", "0::/user.slice/app\n");
    root.Write("sys/fs/cgroup/user.slice/app/memory.max", "1073741824\n");  // 1 GiB, 512 MiB used
    root.Write("sys/fs/cgroup/user.slice/app/memory.current", "536870912\n");
    EXPECT_EQ(root.Read().cgroup_headroom, 512 * kMiB);
    root.Write("sys/fs/cgroup/user.slice/memory.max", "943718400\n");  // 900 MiB above, 600 used
    root.Write("sys/fs/cgroup/user.slice/memory.current", "629145600\n");
    EXPECT_EQ(root.Read().cgroup_headroom, 300 * kMiB);
    root.Write("sys/fs/cgroup/user.slice/app/memory.max", "max\n");
    EXPECT_EQ(root.Read().cgroup_headroom, 300 * kMiB);
}

TEST(MemoryGuard, CgroupV1ReadsTheProcessGroupNotTheRoot) {
    FakeRoot root;
    root.Write("proc/self/cgroup", "9:name=systemd:/\n4:memory:/process_api/abc\n0::/\n");
    root.Write("sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");  // no limit
    root.Write("sys/fs/cgroup/memory/memory.usage_in_bytes", "20000000000\n");
    root.Write("sys/fs/cgroup/memory/process_api/abc/memory.limit_in_bytes", "2147483648\n");
    root.Write("sys/fs/cgroup/memory/process_api/abc/memory.usage_in_bytes", "1073741824\n");
    EXPECT_EQ(root.Read().cgroup_headroom, 1024 * kMiB);
}

TEST(MemoryGuard, EachLimitCanBeTheSmallest) {
    const std::uint64_t gib = 1024 * kMiB;
    {
        FakeRoot root;  // MemAvailable: 1 GiB
        root.Write("proc/meminfo", "MemAvailable: 1048576 kB\n");
        EXPECT_TRUE(Fits(root.Read(), gib - 256 * kMiB, 1));
        EXPECT_FALSE(Fits(root.Read(), gib - 255 * kMiB, 1));  // the 256 MiB margin
    }
    {
        FakeRoot root;  // the cgroup: 8 GiB left, so the margin is 5 %
        root.Write("proc/self/cgroup", "0::/app\n");
        root.Write("sys/fs/cgroup/app/memory.max", "17179869184\n");
        root.Write("sys/fs/cgroup/app/memory.current", "8589934592\n");
        EXPECT_TRUE(Fits(root.Read(), 8 * gib - 8 * gib / 20, 1));
        EXPECT_FALSE(Fits(root.Read(), 8 * gib - 8 * gib / 20 + 1, 1));
    }
    {
        FakeRoot root;  // ulimit -v 200000 with 20 MiB in use: 175 MiB of address space
        root.Write("proc/self/limits",
                   "Max address space         204800000            unlimited            bytes\n"
                   "Max stack size            8388608              unlimited            bytes\n");
        const MemoryReading r = root.Read();
        EXPECT_EQ(r.address_space_headroom, 204800000 - 20 * kMiB);
        EXPECT_TRUE(Fits(r, 64 * kMiB, 1));
        EXPECT_FALSE(Fits(r, 64 * kMiB, 128));  // 128 stacks of 8 MiB do not fit
        EXPECT_FALSE(Fits(r, 200 * kMiB, 1));
    }
    {
        FakeRoot root;  // the data limit against VmData
        root.Write("proc/self/limits",
                   "Max data size             104857600            unlimited            bytes\n");
        EXPECT_EQ(root.Read().address_space_headroom, 100 * kMiB - 4 * kMiB);
    }
}

// OMP_STACKSIZE read as libgomp reads it: blanks anywhere around the
// number and its unit, K when bare; a value libgomp rejects (an unknown
// unit, an overflow) falls to GOMP_STACKSIZE and then to the default, the
// soft stack limit; one below the smallest stack keeps the default.
TEST(MemoryGuard, ThreadStacksAreReadAsTheOpenMpRuntimeReadsThem) {
    FakeRoot root;
    const struct {
        const char* omp;
        const char* gomp;
        std::uint64_t stack;
    } cases[] = {
        {"64M", nullptr, 64 * kMiB},
        {"512", nullptr, 512 * 1024},
        {" 8 m ", nullptr, 8 * kMiB},
        {"1g", nullptr, 1024 * kMiB},
        {"4096b", nullptr, 8 * kMiB},  // below 16 KiB: the default
        {"2", nullptr, 8 * kMiB},
        {"1T", nullptr, 8 * kMiB},
        {"99999999999999999999", nullptr, 8 * kMiB},
        {"18014398509481984G", nullptr, 8 * kMiB},  // 2^54 G overflows
        {"1T", "32M", 32 * kMiB},
        {nullptr, "256", 256 * 1024},
        {"", "1M", 1 * kMiB},
    };
    for (const auto& c : cases) {
        if (c.omp)
            setenv("OMP_STACKSIZE", c.omp, 1);
        else
            unsetenv("OMP_STACKSIZE");
        if (c.gomp)
            setenv("GOMP_STACKSIZE", c.gomp, 1);
        else
            unsetenv("GOMP_STACKSIZE");
        EXPECT_EQ(root.Read().thread_stack, c.stack)
            << (c.omp ? c.omp : "-") << " / " << (c.gomp ? c.gomp : "-");
    }
    unsetenv("OMP_STACKSIZE");
    unsetenv("GOMP_STACKSIZE");
    root.Write("proc/self/limits",
               "Max stack size            unlimited            unlimited            bytes\n");
    EXPECT_EQ(root.Read().thread_stack, 8 * kMiB);
    root.Write("proc/self/limits",
               "Max stack size            30720000000          unlimited            bytes\n");
    EXPECT_EQ(root.Read().thread_stack, 30720000000u);  // ulimit -s 30000000
}

// A thread's stack must fit the physical headroom (the kernel refuses a
// mapping it could never back, and the OpenMP runtime then ends the
// process); threads already running are the pool of an earlier team and
// keep their stacks; strict overcommit counts every stack.
TEST(MemoryGuard, StacksAreWeighedOnceAgainstEveryLimit) {
    FakeRoot root;  // 16 GiB available
    setenv("OMP_STACKSIZE", "100G", 1);
    EXPECT_TRUE(Fits(root.Read(), kMiB, 1));
    EXPECT_FALSE(Fits(root.Read(), kMiB, 2));
    unsetenv("OMP_STACKSIZE");
    root.Write("proc/self/limits",
               "Max stack size            30720000000          unlimited            bytes\n");
    EXPECT_FALSE(Fits(root.Read(), kMiB, 4));

    // ulimit -v 300000 with 24 threads running: a second team of 24 starts
    // none, a team of 40 starts 16 stacks of 8 MiB.
    root.Write("proc/self/limits",
               "Max address space         307200000            unlimited            bytes\n"
               "Max stack size            8388608              unlimited            bytes\n");
    root.Write("proc/self/status", "VmSize:\t  250000 kB\nVmData:\t    4096 kB\nThreads:\t24\n");
    EXPECT_EQ(root.Read().threads_running, 24);
    EXPECT_TRUE(Fits(root.Read(), 10 * kMiB, 24));
    EXPECT_FALSE(Fits(root.Read(), 10 * kMiB, 40));

    FakeRoot strict;  // vm.overcommit_memory 2: 1 GiB left to commit
    strict.Write("proc/sys/vm/overcommit_memory", "2\n");
    strict.Write("proc/meminfo",
                 "MemAvailable: 16777216 kB\nCommitLimit: 4194304 kB\nCommitted_AS: 3145728 kB\n");
    EXPECT_EQ(strict.Read().commit_headroom, 1024 * kMiB);
    EXPECT_TRUE(Fits(strict.Read(), 512 * kMiB, 1));
    EXPECT_FALSE(Fits(strict.Read(), 512 * kMiB, 64));  // 63 stacks of 8 MiB more
    strict.Write("proc/sys/vm/overcommit_memory", "0\n");
    EXPECT_EQ(strict.Read().commit_headroom, kNoLimit);
}

// The margin shrinks with the room: a container with 280 MiB free keeps a
// quarter (70 MiB), not 256 MiB, so small orders still run there.
TEST(MemoryGuard, ASmallContainerKeepsAQuarterFree) {
    FakeRoot root;
    root.Write("proc/self/cgroup", "0::/small\n");
    root.Write("sys/fs/cgroup/small/memory.max", "314572800\n");  // 300 MiB, 20 used
    root.Write("sys/fs/cgroup/small/memory.current", "20971520\n");
    EXPECT_TRUE(Fits(root.Read(), 3 * 8 * 3, 1));  // order 1
    EXPECT_TRUE(Fits(root.Read(), 210 * kMiB, 1));
    EXPECT_FALSE(Fits(root.Read(), 210 * kMiB + 1, 1));
}

// While the matrices are first touched, only the physical headroom can
// shrink under the run: the address space holds them already.
TEST(MemoryGuard, UntouchedMemoryIsWeighedAgainstThePhysicalHeadroomOnly) {
    FakeRoot root;
    root.Write("proc/self/limits",
               "Max address space         104857600            unlimited            bytes\n");
    root.Write("proc/self/status", "VmSize:\t   92160 kB\nVmData:\t    4096 kB\n");  // 10 MiB left
    setenv("VORP_SYSTEM_ROOT", root.Path().c_str(), 1);
    EXPECT_TRUE(StillFitsInAvailableMemory(1024 * kMiB));
    root.Write("proc/meminfo", "MemAvailable: 1048576 kB\n");  // another process took 15 GiB
    EXPECT_TRUE(StillFitsInAvailableMemory(768 * kMiB));
    EXPECT_FALSE(StillFitsInAvailableMemory(768 * kMiB + 1));
    unsetenv("VORP_SYSTEM_ROOT");
}

// Small requests within a second reuse one reading of the system; a
// request that is not small next to it, one after large allocations, or
// one after the second has passed, reads the system again. The system is a
// hand-made machine of 1 GiB and the second is on a clock the test moves.
TEST(MemoryGuard, ARecentReadingAnswersOnlySmallRequests) {
    FakeRoot root;
    root.Write("proc/meminfo", "MemAvailable: 1048576 kB\n");
    setenv("VORP_SYSTEM_ROOT", root.Path().c_str(), 1);
    double now = 1e6;  // past any reading an earlier test left
    memory_testing::OverrideReadingClock([&now] { return now; });

    ASSERT_TRUE(FitsInAvailableMemory(1));
    const long reads = memory_testing::SystemMemoryReads();
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(FitsInAvailableMemory(4096, 2));
    EXPECT_EQ(memory_testing::SystemMemoryReads(), reads);
    EXPECT_EQ(AvailableMemoryBytes(), 1024 * kMiB);

    // A sixteenth of the gigabyte and more asks the system again, which
    // answers with its margin of a quarter.
    EXPECT_TRUE(FitsInAvailableMemory(768 * kMiB));
    EXPECT_EQ(memory_testing::SystemMemoryReads(), reads + 1);
    EXPECT_FALSE(FitsInAvailableMemory(768 * kMiB + 1));
    EXPECT_EQ(memory_testing::SystemMemoryReads(), reads + 2);

    // What was allocated since the reading counts against it.
    ASSERT_TRUE(FitsInAvailableMemory(1));
    const long before_allocation = memory_testing::SystemMemoryReads();
    void* block = AllocateAligned(64 * kMiB, 64);  // reserved, never touched
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(FitsInAvailableMemory(1));
    EXPECT_EQ(memory_testing::SystemMemoryReads(), before_allocation + 1);
    ReleaseAligned(block);

    // A reading a second old is read again, however small the request.
    const long before_second = memory_testing::SystemMemoryReads();
    now += 0.999;
    EXPECT_TRUE(FitsInAvailableMemory(1));
    EXPECT_EQ(memory_testing::SystemMemoryReads(), before_second);
    now += 0.001;
    EXPECT_TRUE(FitsInAvailableMemory(1));
    EXPECT_EQ(memory_testing::SystemMemoryReads(), before_second + 1);

    memory_testing::OverrideReadingClock({});
    unsetenv("VORP_SYSTEM_ROOT");
}
