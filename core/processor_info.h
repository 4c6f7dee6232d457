// The processor snapshot taken once at start-up, and the choice of the
// vectorised method's instruction set (the IsaLevel).
#pragma once

#include <cstdint>
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

// SSE2 (leaf 1 EDX bit 26) gives 0, AVX (leaf 1 ECX bit 28) 1, AVX2 (leaf 7
// EBX bit 5) 2, each test overriding the one before; AVX levels need the
// operating system's AVX state. The result is then lowered to the cap.
void SelectIsaLevel(std::int32_t& isa_level);
void SelectIsaLevel(const ProcessorInfo& info, std::int32_t& isa_level);

// The highest level SelectIsaLevel may choose (kIsaAvxFma3 unless a front end
// lowers it to time or check a narrower path).
void SetIsaLevelCap(std::int32_t cap);
std::int32_t IsaLevelCap();

// The level this processor supports, ignoring the cap.
std::int32_t SupportedIsaLevel();

// "SSE2", "AVX" or "AVX+FMA3".
const char* IsaLevelName(std::int32_t isa_level);
