// The choice of the kernel form at load (see kernel_forms.h). Built for
// baseline x86-64: the static initialiser runs on every processor, with or
// without AVX, and only takes the address of the form it chooses.
#include <cpuid.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Tavrel_8x4.h"
#include "kernel_forms.h"

namespace tavrel8x4 {
namespace {

// XCR0 bits: SSE (1), AVX (2), AVX-512 opmask (5), upper halves of zmm0-15
// (6) and zmm16-31 (7).
constexpr unsigned kAvx512State = (1u << 1) | (1u << 2) | (1u << 5) | (1u << 6) | (1u << 7);

bool ProcessorRunsAvx512() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_count(1, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    const unsigned osxsave = 1u << 27, avx = 1u << 28;
    if ((ecx & osxsave) == 0 || (ecx & avx) == 0) return false;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    const unsigned avx512f = 1u << 16;
    if ((ebx & avx512f) == 0) return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    return (xcr0_low & kAvx512State) == kAvx512State;
}

bool AvxFormForced() {
    const char* form = std::getenv("TAVREL_8X4_FORM");
    return form != nullptr && std::strcmp(form, "avx") == 0;
}

// Decided once at load; a limit set later can only narrow it.
const bool kAvx512Allowed = !AvxFormForced() && ProcessorRunsAvx512();

std::atomic<RegionForm> current_form{kAvx512Allowed ? EightRowBlocksAvx512 : EightRowBlocksAvx};

}  // namespace

RegionForm EightRowBlocks() { return current_form.load(std::memory_order_relaxed); }

int FormBits() { return EightRowBlocks() == EightRowBlocksAvx512 ? 512 : 256; }

int LimitFormBits(int bits) {
    current_form.store(kAvx512Allowed && bits >= 512 ? EightRowBlocksAvx512 : EightRowBlocksAvx,
                       std::memory_order_relaxed);
    return FormBits();
}

}  // namespace tavrel8x4

int TAVREL_AVX_8X4_FormBits() { return tavrel8x4::FormBits(); }

int TAVREL_AVX_8X4_LimitFormBits(int bits) { return tavrel8x4::LimitFormBits(bits); }
