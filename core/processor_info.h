// The processor snapshot taken once at start-up, and the choice of the
// vectorised method's instruction set (the IsaLevel).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// IsaLevel values: which path the vectorised method takes and how the report
// names it.
enum IsaLevel : std::int32_t {
    kIsaSse2 = 0,     // "vectorization: SSE2"
    kIsaAvx = 1,      // "vectorization: AVX"
    kIsaAvxFma3 = 2,  // "vectorization: AVX+FMA3"
};

struct CpuidRecord {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

struct ProcessorInfo {
    std::int32_t highest_standard_leaf = 0;
    std::vector<CpuidRecord> standard_leaves;  // leaves 0..highest, sub-leaf 0
    std::uint32_t leaf1_ecx = 0;
    std::uint32_t leaf1_edx = 0;
    std::uint32_t leaf7_ebx = 0;
    // Whether the operating system saves the SSE and AVX register state
    // (OSXSAVE set and XCR0 bits 1 and 2 set).
    bool os_saves_avx_state = false;
    // XCR0, the register state the operating system saves (0 without OSXSAVE).
    std::uint64_t xcr0 = 0;

    // Queries this processor with cpuid and xgetbv.
    static ProcessorInfo Query();
    // A snapshot built from given leaves (leaf i at index i), for tests.
    static ProcessorInfo FromLeaves(std::vector<CpuidRecord> leaves, bool os_saves_avx_state);

    // AVX-512F with the operating system saving its register state.
    bool RunsAvx512() const;
};

// The snapshot built during static initialisation.
const ProcessorInfo& TheProcessorInfo();

// cpuid of a leaf and sub-leaf, standard (0 on) or extended (0x80000000 on),
// zeros beyond the highest leaf of its range. The functions below take one
// so that tests can describe any processor.
using CpuidFunction = std::function<CpuidRecord(std::uint32_t leaf, std::uint32_t subleaf)>;
// This processor's.
CpuidRecord QueryCpuid(std::uint32_t leaf, std::uint32_t subleaf);

// Who made the processor and which one it is, as leaves 0 and 1 give them:
// the family adds the extended family when the base family is 0xF, and the
// model takes the extended model as its high digit when the base family is
// 6 or 0xF (the rules of Intel's and AMD's manuals).
struct ProcessorIdentity {
    std::string vendor = "unknown";  // "GenuineIntel", "AuthenticAMD", ...
    std::int32_t family = -1;        // -1 without leaf 1
    std::int32_t model = -1;
    std::int32_t stepping = -1;
};
ProcessorIdentity IdentifyProcessor(const CpuidFunction& cpuid);

enum class CacheKind { Data, Instruction, Unified };
struct CpuidCache {
    std::int32_t level = 0;
    CacheKind kind = CacheKind::Unified;
    std::uint64_t bytes = 0;
};
// The caches of one core as cpuid describes them: the deterministic cache
// parameters (leaf 4; on AMD and Hygon leaf 0x8000001D, with topology
// extensions), else AMD's older reports (L1 in 0x80000005, L2 and L3 in
// 0x80000006, L2 alone from other vendors). Empty when cpuid tells nothing.
std::vector<CpuidCache> CachesFromCpuid(const CpuidFunction& cpuid);

// SSE2 (leaf 1 EDX bit 26) gives 0, AVX (leaf 1 ECX bit 28) 1, AVX2 (leaf 7
// EBX bit 5) 2, each test overriding the one before; AVX levels need the
// operating system's AVX state. The result is then lowered to `cap`, which
// a run takes from its parameters to time or check a narrower path.
std::int32_t SelectIsaLevel(const ProcessorInfo& info, std::int32_t cap = kIsaAvxFma3);

// The level this processor supports, ignoring the cap.
std::int32_t SupportedIsaLevel();

// "SSE2", "AVX" or "AVX+FMA3".
const char* IsaLevelName(std::int32_t isa_level);

// The cores this process may run on (its CPU affinity; the online cores
// where that cannot be read), at least 1.
std::int32_t UsableCores();
