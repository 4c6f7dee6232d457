// The program's one allocation function, and the test of whether the machine
// can back an allocation at all.
//
// Every buffer of the run, of the check and of the methods comes from
// AllocateAligned, so a test can make the Nth call fail and count what is
// still held. Linux may grant far more than it can back and kill the process
// later while the pages are touched; FitsInAvailableMemory compares a byte
// count with MemAvailable and the control-group limit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Returns `bytes` bytes aligned to `alignment` (a power of two, at least
// sizeof(void*)), or nullptr when they cannot be obtained. bytes 0 gives a
// distinct non-null block.
void* AllocateAligned(std::size_t bytes, std::size_t alignment);
void ReleaseAligned(void* block);

template <typename T>
T* AllocateArray(std::size_t count, std::size_t alignment = 16) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(AllocateAligned(count * sizeof(T), alignment));
}

// Bytes the process may still commit: MemAvailable, lowered to what the
// memory control group leaves, if it sets a limit.
std::uint64_t AvailableMemoryBytes();
bool FitsInAvailableMemory(std::uint64_t bytes);

// Test seams.
namespace memory_testing {
// The `nth` call of AllocateAligned from now on (1 = the next one) fails;
// 0 disarms.
void FailAllocationNumber(int nth);
// Blocks handed out and not yet released.
long LiveAllocations();
// Replaces the memory query; std::nullopt restores the real one.
void OverrideAvailableMemory(std::optional<std::uint64_t> bytes);
}  // namespace memory_testing
