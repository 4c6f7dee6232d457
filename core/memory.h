// The program's one allocation function, and the test of whether the machine
// can back an allocation at all, with what the kernel will enforce.
//
// Every buffer of the run, of the check and of the methods comes from
// AllocateAligned, so a test can make the Nth call fail and count what is
// still held. Linux may grant far more than it can back and kill the process
// later while the pages are touched, and the OpenMP runtime ends the process
// when it cannot start a thread; FitsInAvailableMemory tells beforehand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

// Returns `bytes` bytes aligned to `alignment` (a power of two, at least
// sizeof(void*)), or nullptr when they cannot be obtained. bytes 0 gives a
// distinct non-null block. Blocks of 16 MiB or more start on a 2 MiB
// boundary and are advised to use transparent huge pages.
void* AllocateAligned(std::size_t bytes, std::size_t alignment);
void ReleaseAligned(void* block);

// Keeps freed memory of the C heap for the next allocations instead of
// giving it back to the system, so that a run's buffers after the first come
// from pages already touched: glibc's thresholds fixed at 32 MiB (blocks
// from there on are mapped and unmapped on their own) and 64 MiB (free
// memory at the top of the heap kept up to that), the values its own
// dynamic rule reaches once a mapped block of 32 MiB is freed, but from the
// start, so that what a run finds does not depend on the heap's history
// (nor on GLIBC_TUNABLES, which this overrides). Idempotent.
void KeepFreedMemoryInTheHeap();

template <typename T>
T* AllocateArray(std::size_t count, std::size_t alignment = 16) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(AllocateAligned(count * sizeof(T), alignment));
}

#include <string>

// What limits the memory of this process, in bytes (kNoLimit where nothing
// does), read from the /proc and /sys trees under a root directory.
struct MemoryReading {
    std::uint64_t mem_available;    // MemAvailable
    std::uint64_t cgroup_headroom;  // least room its memory cgroup and those above it leave
    std::uint64_t commit_headroom;  // CommitLimit less Committed_AS, under strict overcommit only
    std::uint64_t address_space_headroom;  // RLIMIT_AS less VmSize, RLIMIT_DATA less VmData
    std::uint64_t thread_stack;            // the stack of one thread the OpenMP runtime starts
    std::int32_t threads_running;          // the process's threads now, the pool's among them
};
constexpr std::uint64_t kNoLimit = UINT64_MAX;
// Margins kept free: 5 % of what is left, and at least these or a quarter
// of what is left, whichever is smaller, so that a small container still
// runs small orders. Physical: for the page cache and other processes;
// address space: for the allocator's and the libraries' own mappings.
constexpr std::uint64_t kPhysicalMarginBytes = std::uint64_t{256} << 20;
constexpr std::uint64_t kAddressSpaceMarginBytes = std::uint64_t{16} << 20;

// "" reads the running system.
MemoryReading ReadMemory(const std::string& root);
// Whether `bytes` more and a team of `threads` threads fit, keeping the
// margins. Threads already running (an OpenMP pool from an earlier team)
// keep their stacks; each one to be started reserves a whole stack in the
// address space (and in the commit limit under strict overcommit), and one
// stack with the bytes must fit the physical headroom (MemAvailable and the
// cgroups), as the kernel refuses a mapping it could never back.
bool Fits(const MemoryReading& reading, std::uint64_t bytes, std::int32_t threads);

// The least of the limits above (a test override where one is set).
std::uint64_t AvailableMemoryBytes();
// Fits() on the running system. A reading less than a second old answers
// requests that, with what AllocateAligned gave out since, stay within a
// sixteenth of what it allowed; anything larger reads the system again.
// VORP_SYSTEM_ROOT in the environment names another root for the /proc and
// /sys trees (a hand-made machine, for tests of whole programs).
bool FitsInAvailableMemory(std::uint64_t bytes, std::int32_t threads = 1);
// Whether `bytes` allocated already but not yet touched still fit the
// physical headroom (MemAvailable, the cgroups) of a fresh reading, with its
// margin: other processes may have taken memory since. The address space
// and the commit limit hold them already.
bool StillFitsInAvailableMemory(std::uint64_t bytes);

// Test seams.
namespace memory_testing {
// The `nth` call of AllocateAligned from now on (1 = the next one) fails;
// 0 disarms.
void FailAllocationNumber(int nth);
// Blocks handed out and not yet released.
long LiveAllocations();
// How often FitsInAvailableMemory has read the system's limits.
long SystemMemoryReads();
// Replaces the memory query: every request fits while it is at most
// `bytes`; std::nullopt restores the real one.
void OverrideAvailableMemory(std::optional<std::uint64_t> bytes);
// The same with a value asked anew at every request (a machine whose
// memory other processes take).
void OverrideAvailableMemory(std::function<std::uint64_t()> bytes);
// Replaces the clock (in seconds) on which a reading of the system ages;
// empty restores the steady clock. The run's clocks (tick.h) are not used,
// so that scripted readings of theirs stay the run's own.
void OverrideReadingClock(std::function<double()> seconds);
}  // namespace memory_testing
