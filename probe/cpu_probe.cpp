#include "cpu_probe.h"

#include <cpuid.h>

namespace cpu_probe {
namespace {
constexpr std::uint32_t kLeaf1EdxSse2 = 1u << 26;
constexpr std::uint32_t kLeaf1EcxOsxsave = 1u << 27;
constexpr std::uint32_t kLeaf1EcxAvx = 1u << 28;
constexpr std::uint32_t kLeaf7EbxAvx2 = 1u << 5;
constexpr std::uint32_t kLeaf7EbxAvx512f = 1u << 16;
constexpr std::uint64_t kXcr0AvxState = 0x6;      // SSE (1) and AVX (2)
constexpr std::uint64_t kXcr0Avx512State = 0xE6;  // and opmask, zmm0-15 upper, zmm16-31 (5-7)
}  // namespace

Leaf Cpuid(std::uint32_t leaf) {
    Leaf r;
    if (__get_cpuid_max(0, nullptr) < leaf) return r;
    __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
    return r;
}

std::uint64_t ReadXcr0(std::uint32_t leaf1_ecx) {
    if ((leaf1_ecx & kLeaf1EcxOsxsave) == 0) return 0;
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}

Registers Read() {
    Registers r;
    const Leaf leaf1 = Cpuid(1);
    r.leaf1_ecx = leaf1.ecx;
    r.leaf1_edx = leaf1.edx;
    r.leaf7_ebx = Cpuid(7).ebx;
    r.xcr0 = ReadXcr0(r.leaf1_ecx);
    return r;
}

bool HasSse2(const Registers& r) { return (r.leaf1_edx & kLeaf1EdxSse2) != 0; }
bool HasAvx(const Registers& r) { return (r.leaf1_ecx & kLeaf1EcxAvx) != 0; }
bool HasAvx2(const Registers& r) { return (r.leaf7_ebx & kLeaf7EbxAvx2) != 0; }
bool SavesAvxState(const Registers& r) { return (r.xcr0 & kXcr0AvxState) == kXcr0AvxState; }
bool RunsAvx(const Registers& r) { return HasAvx(r) && SavesAvxState(r); }
bool RunsAvx512(const Registers& r) {
    return (r.leaf7_ebx & kLeaf7EbxAvx512f) != 0 && (r.xcr0 & kXcr0Avx512State) == kXcr0Avx512State;
}

}  // namespace cpu_probe
