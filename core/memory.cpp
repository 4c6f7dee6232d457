#include "memory.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

namespace {
std::atomic<int> g_fail_countdown{0};
std::atomic<long> g_live{0};
std::atomic<bool> g_override_set{false};
std::atomic<std::uint64_t> g_override_bytes{0};

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

bool ShouldFailThisCall() {
    int current = g_fail_countdown.load();
    while (current > 0) {
        if (g_fail_countdown.compare_exchange_weak(current, current - 1)) return current == 1;
    }
    return false;
}

std::uint64_t MemAvailableBytes() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:") return kib * 1024;
    }
    return kUnlimited;
}

// Reads one number from a file; "max" or a missing file means no limit.
std::uint64_t ReadLimit(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text == "max") return kUnlimited;
    try {
        return std::stoull(text);
    } catch (...) {
        return kUnlimited;
    }
}

// What the process's memory control group still allows (v2, then v1).
std::uint64_t CgroupHeadroomBytes() {
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    while (std::getline(self, line)) {
        if (line.rfind("0::", 0) == 0) {
            const std::string dir = "/sys/fs/cgroup" + line.substr(3);
            const std::uint64_t limit = ReadLimit(dir + "/memory.max");
            if (limit == kUnlimited) break;
            const std::uint64_t used = ReadLimit(dir + "/memory.current");
            return used == kUnlimited || used >= limit ? 0 : limit - used;
        }
    }
    const std::uint64_t limit = ReadLimit("/sys/fs/cgroup/memory/memory.limit_in_bytes");
    if (limit == kUnlimited || limit >= (std::uint64_t{1} << 60)) return kUnlimited;
    const std::uint64_t used = ReadLimit("/sys/fs/cgroup/memory/memory.usage_in_bytes");
    return used == kUnlimited || used >= limit ? 0 : limit - used;
}
}  // namespace

void* AllocateAligned(std::size_t bytes, std::size_t alignment) {
    if (ShouldFailThisCall()) return nullptr;
    void* block = nullptr;
    if (posix_memalign(&block, alignment, bytes == 0 ? alignment : bytes) != 0) return nullptr;
    ++g_live;
    return block;
}

void ReleaseAligned(void* block) {
    if (block == nullptr) return;
    --g_live;
    std::free(block);
}

std::uint64_t AvailableMemoryBytes() {
    if (g_override_set.load()) return g_override_bytes.load();
    const std::uint64_t available = MemAvailableBytes();
    const std::uint64_t headroom = CgroupHeadroomBytes();
    return available < headroom ? available : headroom;
}

bool FitsInAvailableMemory(std::uint64_t bytes) { return bytes <= AvailableMemoryBytes(); }

namespace memory_testing {
void FailAllocationNumber(int nth) { g_fail_countdown = nth < 0 ? 0 : nth; }
long LiveAllocations() { return g_live.load(); }
void OverrideAvailableMemory(std::optional<std::uint64_t> bytes) {
    g_override_bytes = bytes.value_or(0);
    g_override_set = bytes.has_value();
}
}  // namespace memory_testing
