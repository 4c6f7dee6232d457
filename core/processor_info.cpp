#include "processor_info.h"

#include <atomic>
#include <utility>

#include "cpu_probe.h"

namespace {
std::atomic<std::int32_t> g_isa_cap{kIsaAvxFma3};

CpuidRecord Cpuid(std::uint32_t leaf) {
    const cpu_probe::Leaf r = cpu_probe::Cpuid(leaf);
    return {r.eax, r.ebx, r.ecx, r.edx};
}

cpu_probe::Registers RegistersOf(const ProcessorInfo& info) {
    return {info.leaf1_ecx, info.leaf1_edx, info.leaf7_ebx, info.xcr0};
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
    cpu_probe::Registers registers;
    registers.xcr0 = cpu_probe::ReadXcr0(leaf1_ecx);
    ProcessorInfo info = FromLeaves(std::move(leaves), cpu_probe::SavesAvxState(registers));
    info.xcr0 = registers.xcr0;
    return info;
}

bool ProcessorInfo::RunsAvx512() const { return cpu_probe::RunsAvx512(RegistersOf(*this)); }

const ProcessorInfo& TheProcessorInfo() { return g_processor_info; }

namespace {
void ApplyFeatureTests(const ProcessorInfo& info, std::int32_t& isa_level) {
    const cpu_probe::Registers r = RegistersOf(info);
    if (cpu_probe::HasSse2(r)) isa_level = kIsaSse2;
    if (cpu_probe::HasAvx(r)) isa_level = kIsaAvx;
    if (cpu_probe::HasAvx2(r)) isa_level = kIsaAvxFma3;
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
