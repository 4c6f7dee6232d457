#include "memory.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include <malloc.h>
#include <sys/mman.h>

namespace {
std::atomic<int> g_fail_countdown{0};
std::atomic<long> g_live{0};
std::atomic<bool> g_override_set{false};
std::mutex g_override_mutex;
std::function<std::uint64_t()> g_override;        // under g_override_mutex
std::atomic<std::uint64_t> g_allocated_bytes{0};  // by AllocateAligned, ever
std::atomic<long> g_system_reads{0};

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// Blocks from here on start on a huge-page boundary and ask for huge pages;
// at most one huge page per block is left unused.
constexpr std::size_t kHugePageThresholdBytes = 8 * kHugePageBytes;

std::uint64_t OverrideBytes() {
    const std::lock_guard<std::mutex> lock(g_override_mutex);
    return g_override ? g_override() : kUnlimited;
}

bool ShouldFailThisCall() {
    int current = g_fail_countdown.load();
    while (current > 0) {
        if (g_fail_countdown.compare_exchange_weak(current, current - 1)) return current == 1;
    }
    return false;
}

std::uint64_t Saturating(std::uint64_t a, std::uint64_t b) {
    return a > kUnlimited - b ? kUnlimited : a + b;
}

// The first number after `key` in a "key value" text file, times `scale`;
// kUnlimited when there is none.
std::uint64_t FieldOf(const std::string& path, const std::string& key, std::uint64_t scale) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(key, 0) != 0) continue;
        std::istringstream rest(line.substr(key.size()));
        std::uint64_t value = 0;
        if (rest >> value) return value * scale;
    }
    return kUnlimited;
}

// One number from a file; "max", a missing file or a value of 2^60 and more
// (cgroup v1's "no limit") mean no limit.
std::uint64_t ReadLimit(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text == "max") return kUnlimited;
    try {
        const std::uint64_t value = std::stoull(text);
        return value >= (std::uint64_t{1} << 60) ? kUnlimited : value;
    } catch (...) {
        return kUnlimited;
    }
}

// The least room left by the limits of `dir` and its parents up to `top`,
// each `limit_file` less its `usage_file`.
std::uint64_t HeadroomUpTo(std::string dir, const std::string& top, const char* limit_file,
                           const char* usage_file) {
    std::uint64_t headroom = kUnlimited;
    for (;;) {
        const std::uint64_t limit = ReadLimit(dir + "/" + limit_file);
        if (limit != kUnlimited) {
            const std::uint64_t used = ReadLimit(dir + "/" + usage_file);
            const std::uint64_t room = used == kUnlimited || used >= limit ? 0 : limit - used;
            headroom = std::min(headroom, room);
        }
        if (dir.size() <= top.size()) return headroom;
        dir = dir.substr(0, dir.find_last_of('/'));
    }
}

// What the process's memory control group, and those above it, still
// allow: v1's memory controller where /proc/self/cgroup names one, else the
// unified (v2) hierarchy.
std::uint64_t CgroupHeadroomBytes(const std::string& root) {
    std::ifstream self(root + "/proc/self/cgroup");
    std::string v2_path;
    for (std::string line; std::getline(self, line);) {
        const auto first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        const std::string path = line.substr(second + 1);
        if (controllers.find(",memory,") != std::string::npos) {
            const std::string top = root + "/sys/fs/cgroup/memory";
            return HeadroomUpTo(top + (path == "/" ? "" : path), top, "memory.limit_in_bytes",
                                "memory.usage_in_bytes");
        }
        if (line.rfind("0::", 0) == 0) v2_path = path;
    }
    if (v2_path.empty()) return kUnlimited;
    const std::string top = root + "/sys/fs/cgroup";
    return HeadroomUpTo(top + (v2_path == "/" ? "" : v2_path), top, "memory.max", "memory.current");
}

// The address space a soft resource limit leaves beside what is in use
// ("Max address space" against VmSize, "Max data size" against VmData).
std::uint64_t RlimitHeadroom(const std::string& root, const std::string& limit_name,
                             const std::string& usage_key) {
    std::ifstream limits(root + "/proc/self/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind(limit_name, 0) != 0) continue;
        std::istringstream fields(line.substr(limit_name.size()));
        std::string soft;
        fields >> soft;
        if (soft == "unlimited") return kUnlimited;
        try {
            const std::uint64_t limit = std::stoull(soft);
            const std::uint64_t used = FieldOf(root + "/proc/self/status", usage_key, 1024);
            return used == kUnlimited || used >= limit ? 0 : limit - used;
        } catch (...) {
            return kUnlimited;
        }
    }
    return kUnlimited;
}

// A stack size in libgomp's form of OMP_STACKSIZE: blanks, a decimal
// number, an optional unit (B, K, M or G in either case; K when none),
// blanks; nothing when the text is not of that form or overflows, which
// libgomp reports and ignores.
std::optional<std::uint64_t> LibgompStackSize(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    if (*text == '\0') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0) return std::nullopt;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    int shift = 10;
    if (*end != '\0') {
        switch (std::tolower(static_cast<unsigned char>(*end))) {
            case 'b':
                shift = 0;
                break;
            case 'k':
                shift = 10;
                break;
            case 'm':
                shift = 20;
                break;
            case 'g':
                shift = 30;
                break;
            default:
                return std::nullopt;
        }
        ++end;
        while (std::isspace(static_cast<unsigned char>(*end))) ++end;
        if (*end != '\0') return std::nullopt;
    }
    if (((value << shift) >> shift) != value) return std::nullopt;
    return std::uint64_t{value} << shift;
}

// The stack of one thread the OpenMP runtime starts, found as libgomp finds
// it: OMP_STACKSIZE, else GOMP_STACKSIZE, where valid and not below the
// smallest stack a thread can have; else the thread library's default,
// the soft stack limit (8 MiB at most when it is unlimited).
std::uint64_t ThreadStackBytes(const std::string& root) {
    constexpr std::uint64_t kSmallestStack =
        16384;  // PTHREAD_STACK_MIN: smaller is refused and ignored
    constexpr std::uint64_t kUnlimitedDefault = std::uint64_t{8} << 20;
    for (const char* name : {"OMP_STACKSIZE", "GOMP_STACKSIZE"}) {
        const char* text = std::getenv(name);
        if (text == nullptr) continue;
        const std::optional<std::uint64_t> size = LibgompStackSize(text);
        if (!size) continue;  // libgomp goes on to the next name
        if (*size >= kSmallestStack) return *size;
        break;  // libgomp keeps the default
    }
    const std::uint64_t limit = FieldOf(root + "/proc/self/limits", "Max stack size", 1);
    if (limit == kUnlimited) return kUnlimitedDefault;
    return std::max(limit, kSmallestStack);
}

// What strict overcommit (vm.overcommit_memory 2) leaves to commit; no limit
// under the other modes, where the physical headroom decides.
std::uint64_t CommitHeadroom(const std::string& root) {
    if (ReadLimit(root + "/proc/sys/vm/overcommit_memory") != 2) return kUnlimited;
    const std::uint64_t limit = FieldOf(root + "/proc/meminfo", "CommitLimit:", 1024);
    const std::uint64_t committed = FieldOf(root + "/proc/meminfo", "Committed_AS:", 1024);
    if (limit == kUnlimited || committed == kUnlimited) return kUnlimited;
    return committed >= limit ? 0 : limit - committed;
}

std::int32_t ThreadsRunning(const std::string& root) {
    const std::uint64_t threads = FieldOf(root + "/proc/self/status", "Threads:", 1);
    return threads == kUnlimited || threads < 1
               ? 1
               : static_cast<std::int32_t>(std::min<std::uint64_t>(threads, INT32_MAX));
}

// Room left under `headroom` for `need`, keeping a margin of 5 % and at
// least `floor` or a quarter of the headroom, whichever is smaller.
bool FitsUnder(std::uint64_t headroom, std::uint64_t need, std::uint64_t floor) {
    if (headroom == kUnlimited) return true;
    const std::uint64_t margin = std::max(headroom / 20, std::min(floor, headroom / 4));
    return headroom >= margin && need <= headroom - margin;
}

// The root of the /proc and /sys trees the guard reads.
std::string SystemRoot() {
    const char* root = std::getenv("VORP_SYSTEM_ROOT");
    return root ? root : "";
}
}  // namespace

void* AllocateAligned(std::size_t bytes, std::size_t alignment) {
    if (ShouldFailThisCall()) return nullptr;
    const bool large = bytes >= kHugePageThresholdBytes;
    if (large) alignment = std::max(alignment, kHugePageBytes);
    void* block = nullptr;
    if (posix_memalign(&block, alignment, bytes == 0 ? alignment : bytes) != 0) return nullptr;
    // Advice only: huge pages take one fault per 2 MiB instead of 512, which
    // is what zeroing and preparing a large matrix mostly costs.
    if (large) madvise(block, bytes - bytes % kHugePageBytes, MADV_HUGEPAGE);
    g_allocated_bytes += bytes;
    ++g_live;
    return block;
}

void ReleaseAligned(void* block) {
    if (block == nullptr) return;
    --g_live;
    std::free(block);
}

void KeepFreedMemoryInTheHeap() {
    static const bool once = [] {
        constexpr int kMappedFromBytes = 32 << 20, kKeptAtTopBytes = 64 << 20;
        mallopt(M_MMAP_THRESHOLD, kMappedFromBytes);
        mallopt(M_TRIM_THRESHOLD, kKeptAtTopBytes);
        return true;
    }();
    (void)once;
}

MemoryReading ReadMemory(const std::string& root) {
    MemoryReading reading;
    reading.mem_available = FieldOf(root + "/proc/meminfo", "MemAvailable:", 1024);
    reading.cgroup_headroom = CgroupHeadroomBytes(root);
    reading.commit_headroom = CommitHeadroom(root);
    reading.address_space_headroom = std::min(RlimitHeadroom(root, "Max address space", "VmSize:"),
                                              RlimitHeadroom(root, "Max data size", "VmData:"));
    reading.thread_stack = ThreadStackBytes(root);
    reading.threads_running = ThreadsRunning(root);
    return reading;
}

bool Fits(const MemoryReading& reading, std::uint64_t bytes, std::int32_t threads) {
    const std::uint64_t new_threads = static_cast<std::uint64_t>(
        std::max<std::int64_t>(std::int64_t{threads} - reading.threads_running, 0));
    const std::uint64_t one_stack = new_threads > 0 ? reading.thread_stack : 0;
    const std::uint64_t stacks =
        new_threads > kUnlimited / std::max<std::uint64_t>(reading.thread_stack, 1)
            ? kUnlimited
            : new_threads * reading.thread_stack;
    const std::uint64_t physical = std::min(reading.mem_available, reading.cgroup_headroom);
    return FitsUnder(physical, Saturating(bytes, one_stack), kPhysicalMarginBytes) &&
           FitsUnder(reading.commit_headroom, Saturating(bytes, stacks), kPhysicalMarginBytes) &&
           FitsUnder(reading.address_space_headroom, Saturating(bytes, stacks),
                     kAddressSpaceMarginBytes);
}

std::uint64_t AvailableMemoryBytes() {
    if (g_override_set.load()) return OverrideBytes();
    const MemoryReading reading = ReadMemory(SystemRoot());
    return std::min(
        {reading.mem_available, reading.cgroup_headroom, reading.address_space_headroom});
}

namespace {
// Reading /proc and /sys costs about a tenth of a millisecond, which a sweep
// of tiny products would pay for every run. A reading younger than a second answers
// a request again when that request, together with everything allocated
// since the reading, is at most a sixteenth of what the reading allowed:
// what other processes may take in that second is left to that share and
// the margins.
constexpr double kReadingLifetimeSeconds = 1;
constexpr std::uint64_t kReuseShare = 16;

std::mutex g_reading_clock_mutex;
std::function<double()> g_reading_clock;  // under g_reading_clock_mutex; empty: the steady clock

// Seconds on the clock a reading ages by.
double ReadingClockSeconds() {
    {
        const std::lock_guard<std::mutex> lock(g_reading_clock_mutex);
        if (g_reading_clock) return g_reading_clock();
    }
    const std::chrono::duration<double> since_start =
        std::chrono::steady_clock::now().time_since_epoch();
    return since_start.count();
}

struct RecentReading {
    std::mutex mutex;
    bool valid = false;
    MemoryReading reading{};
    double taken = 0;  // ReadingClockSeconds() at the reading
    std::uint64_t allocated_then = 0;
};

bool FitsWithRecentReading(std::uint64_t bytes, std::int32_t threads) {
    static RecentReading recent;
    const std::lock_guard<std::mutex> lock(recent.mutex);
    const double now = ReadingClockSeconds();
    if (recent.valid && now - recent.taken < kReadingLifetimeSeconds) {
        const std::uint64_t since = g_allocated_bytes.load() - recent.allocated_then;
        const std::uint64_t share = Saturating(since, bytes);
        const std::uint64_t scaled =
            share > kUnlimited / kReuseShare ? kUnlimited : share * kReuseShare;
        const std::int32_t stacks =
            std::min<std::int64_t>(std::int64_t{std::max(threads, 1)} * kReuseShare,
                                   std::numeric_limits<std::int32_t>::max());
        if (Fits(recent.reading, scaled, stacks)) return true;
    }
    ++g_system_reads;
    recent.allocated_then = g_allocated_bytes.load();
    recent.reading = ReadMemory(SystemRoot());
    recent.taken = now;
    recent.valid = true;
    return Fits(recent.reading, bytes, threads);
}
}  // namespace

bool FitsInAvailableMemory(std::uint64_t bytes, std::int32_t threads) {
    if (g_override_set.load()) return bytes <= OverrideBytes();
    return FitsWithRecentReading(bytes, threads);
}

bool StillFitsInAvailableMemory(std::uint64_t bytes) {
    if (g_override_set.load()) return bytes <= OverrideBytes();
    ++g_system_reads;
    const MemoryReading reading = ReadMemory(SystemRoot());
    return FitsUnder(std::min(reading.mem_available, reading.cgroup_headroom), bytes,
                     kPhysicalMarginBytes);
}

namespace memory_testing {
void FailAllocationNumber(int nth) { g_fail_countdown = nth < 0 ? 0 : nth; }
long LiveAllocations() { return g_live.load(); }
long SystemMemoryReads() { return g_system_reads.load(); }
void OverrideAvailableMemory(std::optional<std::uint64_t> bytes) {
    if (bytes) {
        const std::uint64_t fixed = *bytes;
        OverrideAvailableMemory(std::function<std::uint64_t()>([fixed] { return fixed; }));
    } else {
        OverrideAvailableMemory(std::function<std::uint64_t()>());
    }
}
void OverrideAvailableMemory(std::function<std::uint64_t()> bytes) {
    const std::lock_guard<std::mutex> lock(g_override_mutex);
    g_override = std::move(bytes);
    g_override_set = static_cast<bool>(g_override);
}
void OverrideReadingClock(std::function<double()> seconds) {
    const std::lock_guard<std::mutex> lock(g_reading_clock_mutex);
    g_reading_clock = std::move(seconds);
}
}  // namespace memory_testing
