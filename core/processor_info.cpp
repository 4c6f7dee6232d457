#include "processor_info.h"

#include <atomic>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {
constexpr std::uint32_t kLeaf1EdxSse2 = 1u << 26;
constexpr std::uint32_t kLeaf1EcxOsxsave = 1u << 27;
constexpr std::uint32_t kLeaf1EcxAvx = 1u << 28;
constexpr std::uint32_t kLeaf7EbxAvx2 = 1u << 5;

std::atomic<std::int32_t> g_isa_cap{kIsaAvxFma3};

CpuidRecord Cpuid(std::uint32_t leaf) {
    CpuidRecord record;
#if defined(__x86_64__) || defined(__i386__)
    __cpuid_count(leaf, 0, record.eax, record.ebx, record.ecx, record.edx);
#else
    (void)leaf;
#endif
    return record;
}

constexpr std::uint32_t kLeaf7EbxAvx512f = 1u << 16;
// XCR0: SSE and AVX state (bits 1, 2); AVX-512 opmask and zmm state (5, 6, 7).
constexpr std::uint64_t kXcr0AvxState = 0x6;
constexpr std::uint64_t kXcr0Avx512State = 0xE6;

std::uint64_t ReadXcr0(std::uint32_t leaf1_ecx) {
#if defined(__x86_64__) || defined(__i386__)
    if ((leaf1_ecx & kLeaf1EcxOsxsave) == 0) return 0;
    std::uint32_t xcr0_low = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    return (std::uint64_t{xcr0_high} << 32) | xcr0_low;
#else
    (void)leaf1_ecx;
    return 0;
#endif
}

const ProcessorInfo g_processor_info = ProcessorInfo::Query();
}  // namespace

ProcessorInfo ProcessorInfo::FromLeaves(std::vector<CpuidRecord> leaves, bool os_saves_avx_state) {
    ProcessorInfo info;
    info.highest_standard_leaf = leaves.empty() ? 0 : static_cast<std::int32_t>(leaves[0].eax);
    info.standard_leaves = std::move(leaves);
    const auto has_leaf = [&](std::int32_t leaf) {
        return info.highest_standard_leaf >= leaf &&
               info.standard_leaves.size() > static_cast<std::size_t>(leaf);
    };
    if (has_leaf(1)) {
        info.leaf1_ecx = info.standard_leaves[1].ecx;
        info.leaf1_edx = info.standard_leaves[1].edx;
    }
    if (has_leaf(7)) info.leaf7_ebx = info.standard_leaves[7].ebx;
    info.os_saves_avx_state = os_saves_avx_state;
    return info;
}

ProcessorInfo ProcessorInfo::Query() {
    const std::uint32_t highest = Cpuid(0).eax;
    std::vector<CpuidRecord> leaves;
    for (std::uint32_t leaf = 0; leaf <= highest && leaf < 0x1000; ++leaf) {
        leaves.push_back(Cpuid(leaf));
    }
    const std::uint32_t leaf1_ecx = leaves.size() > 1 ? leaves[1].ecx : 0;
    const std::uint64_t xcr0 = ReadXcr0(leaf1_ecx);
    ProcessorInfo info =
        FromLeaves(std::move(leaves), (xcr0 & kXcr0AvxState) == kXcr0AvxState);
    info.xcr0 = xcr0;
    return info;
}

bool ProcessorInfo::RunsAvx512() const {
    return (leaf7_ebx & kLeaf7EbxAvx512f) != 0 && (xcr0 & kXcr0Avx512State) == kXcr0Avx512State;
}

const ProcessorInfo& TheProcessorInfo() { return g_processor_info; }

namespace {
void ApplyFeatureTests(const ProcessorInfo& info, std::int32_t& isa_level) {
    if (info.leaf1_edx & kLeaf1EdxSse2) isa_level = kIsaSse2;
    if (info.leaf1_ecx & kLeaf1EcxAvx) isa_level = kIsaAvx;
    if (info.leaf7_ebx & kLeaf7EbxAvx2) isa_level = kIsaAvxFma3;
    // Without the operating system's AVX state an AVX instruction faults.
    if (isa_level != kIsaSse2 && !info.os_saves_avx_state) isa_level = kIsaSse2;
}
}  // namespace

void SelectIsaLevel(const ProcessorInfo& info, std::int32_t& isa_level) {
    ApplyFeatureTests(info, isa_level);
    if (isa_level > g_isa_cap.load()) isa_level = g_isa_cap.load();
}

void SelectIsaLevel(std::int32_t& isa_level) { SelectIsaLevel(g_processor_info, isa_level); }

void SetIsaLevelCap(std::int32_t cap) { g_isa_cap = cap; }
std::int32_t IsaLevelCap() { return g_isa_cap.load(); }

std::int32_t SupportedIsaLevel() {
    std::int32_t level = kIsaSse2;
    ApplyFeatureTests(g_processor_info, level);
    return level;
}

const char* IsaLevelName(std::int32_t isa_level) {
    switch (isa_level) {
        case kIsaAvx: return "AVX";
        case kIsaAvxFma3: return "AVX+FMA3";
        default: return "SSE2";
    }
}
