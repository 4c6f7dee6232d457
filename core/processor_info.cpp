#include "processor_info.h"

#include <cpuid.h>
#include <sched.h>
#include <unistd.h>

#include <utility>

#include "cpu_probe.h"

namespace {
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

CpuidRecord QueryCpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    CpuidRecord r;
    // False beyond the highest leaf of the range `leaf` is in.
    if (!__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx)) return CpuidRecord{};
    return r;
}

namespace {
constexpr std::uint32_t kExtendedLeaves = 0x80000000;
constexpr std::uint32_t kExtendedFeatures = 0x80000001;
constexpr std::uint32_t kAmdL1Leaf = 0x80000005;
constexpr std::uint32_t kAmdL2L3Leaf = 0x80000006;
constexpr std::uint32_t kAmdCacheTopologyLeaf = 0x8000001D;
constexpr std::uint32_t kCacheParametersLeaf = 4;
constexpr std::uint32_t kTopologyExtensions = 1u << 22;  // 0x80000001 ECX: 0x8000001D is there
// A core has a handful of caches; this bounds a list whose end never comes.
constexpr std::uint32_t kMostCacheSubleaves = 16;
// 0x80000006 EDX counts the L3 in blocks of this size.
constexpr std::uint64_t kAmdL3Unit = 512 * 1024;

std::string VendorOf(const CpuidRecord& leaf0) {
    std::string vendor;
    for (const std::uint32_t word : {leaf0.ebx, leaf0.edx, leaf0.ecx}) {
        for (int byte = 0; byte < 4; ++byte) {
            const char c = static_cast<char>((word >> (8 * byte)) & 0xff);
            if (c > 0x20 && c < 0x7f) vendor += c;
        }
    }
    return vendor.empty() ? "unknown" : vendor;
}

bool AmdCompatible(const std::string& vendor) {
    return vendor == "AuthenticAMD" || vendor == "HygonGenuine";
}

// Leaf 4 and 0x8000001D share one layout: a sub-leaf per cache until type 0.
std::vector<CpuidCache> DeterministicCaches(const CpuidFunction& cpuid, std::uint32_t leaf) {
    std::vector<CpuidCache> caches;
    for (std::uint32_t subleaf = 0; subleaf < kMostCacheSubleaves; ++subleaf) {
        const CpuidRecord r = cpuid(leaf, subleaf);
        const std::uint32_t type = r.eax & 0x1f;
        if (type == 0) break;
        if (type > 3) continue;  // reserved kinds
        CpuidCache cache;
        cache.level = static_cast<std::int32_t>((r.eax >> 5) & 0x7);
        cache.kind = type == 1   ? CacheKind::Data
                     : type == 2 ? CacheKind::Instruction
                                 : CacheKind::Unified;
        const std::uint64_t ways = (r.ebx >> 22) + 1;
        const std::uint64_t partitions = ((r.ebx >> 12) & 0x3ff) + 1;
        const std::uint64_t line = (r.ebx & 0xfff) + 1;
        const std::uint64_t sets = std::uint64_t{r.ecx} + 1;
        cache.bytes = ways * partitions * line * sets;
        caches.push_back(cache);
    }
    return caches;
}

std::vector<CpuidCache> OlderAmdCaches(const CpuidFunction& cpuid, std::uint32_t highest_extended,
                                       bool amd_compatible) {
    std::vector<CpuidCache> caches;
    const auto add = [&](std::int32_t level, CacheKind kind, std::uint64_t bytes) {
        if (bytes > 0) caches.push_back({level, kind, bytes});
    };
    if (amd_compatible && highest_extended >= kAmdL1Leaf) {
        const CpuidRecord l1 = cpuid(kAmdL1Leaf, 0);
        add(1, CacheKind::Data, std::uint64_t{l1.ecx >> 24} * 1024);
        add(1, CacheKind::Instruction, std::uint64_t{l1.edx >> 24} * 1024);
    }
    if (highest_extended >= kAmdL2L3Leaf) {
        const CpuidRecord l2l3 = cpuid(kAmdL2L3Leaf, 0);
        add(2, CacheKind::Unified, std::uint64_t{l2l3.ecx >> 16} * 1024);
        if (amd_compatible) add(3, CacheKind::Unified, std::uint64_t{l2l3.edx >> 18} * kAmdL3Unit);
    }
    return caches;
}
}  // namespace

ProcessorIdentity IdentifyProcessor(const CpuidFunction& cpuid) {
    ProcessorIdentity identity;
    const CpuidRecord leaf0 = cpuid(0, 0);
    identity.vendor = VendorOf(leaf0);
    if (leaf0.eax < 1) return identity;
    const std::uint32_t signature = cpuid(1, 0).eax;
    const std::uint32_t base_family = (signature >> 8) & 0xf;
    const std::uint32_t base_model = (signature >> 4) & 0xf;
    identity.stepping = static_cast<std::int32_t>(signature & 0xf);
    identity.family = static_cast<std::int32_t>(
        base_family + (base_family == 0xf ? (signature >> 20) & 0xff : 0));
    const bool extended_model = base_family == 0x6 || base_family == 0xf;
    identity.model = static_cast<std::int32_t>(
        base_model + (extended_model ? ((signature >> 16) & 0xf) << 4 : 0));
    return identity;
}

std::vector<CpuidCache> CachesFromCpuid(const CpuidFunction& cpuid) {
    const CpuidRecord leaf0 = cpuid(0, 0);
    const bool amd_compatible = AmdCompatible(VendorOf(leaf0));
    const std::uint32_t highest_extended = cpuid(kExtendedLeaves, 0).eax;
    const bool has_extended = highest_extended >= kExtendedLeaves;
    std::vector<CpuidCache> caches;
    if (amd_compatible) {
        const bool topology = highest_extended >= kExtendedFeatures &&
                              (cpuid(kExtendedFeatures, 0).ecx & kTopologyExtensions) != 0;
        if (topology && highest_extended >= kAmdCacheTopologyLeaf) {
            caches = DeterministicCaches(cpuid, kAmdCacheTopologyLeaf);
        }
    } else if (leaf0.eax >= kCacheParametersLeaf) {
        caches = DeterministicCaches(cpuid, kCacheParametersLeaf);
    }
    if (caches.empty() && has_extended)
        caches = OlderAmdCaches(cpuid, highest_extended, amd_compatible);
    return caches;
}

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

std::int32_t SelectIsaLevel(const ProcessorInfo& info, std::int32_t cap) {
    std::int32_t isa_level = kIsaSse2;
    ApplyFeatureTests(info, isa_level);
    return isa_level > cap ? cap : isa_level;
}

std::int32_t SupportedIsaLevel() {
    std::int32_t level = kIsaSse2;
    ApplyFeatureTests(g_processor_info, level);
    return level;
}

const char* IsaLevelName(std::int32_t isa_level) {
    switch (isa_level) {
        case kIsaAvx:
            return "AVX";
        case kIsaAvxFma3:
            return "AVX+FMA3";
        default:
            return "SSE2";
    }
}

std::int32_t UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::int32_t>(online) : 1;
}
