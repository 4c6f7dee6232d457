#include "kernel_form.h"

#include <cstdlib>

#include "processor_info.h"
#include "run_parameters.h"

namespace {
// The form Tavrel_8x4 runs on the AVX levels. The library picks it once at
// load time: 512-bit code where the processor and the operating system offer
// AVX-512, unless TAVREL_8X4_FORM=avx keeps the 256-bit form.
std::string Tavrel8x4Form() {
    const char* forced = std::getenv("TAVREL_8X4_FORM");
    const bool avx_forced = forced != nullptr && std::string(forced) == "avx";
    return TheProcessorInfo().RunsAvx512() && !avx_forced ? "AVX-512 24x8 (Tavrel_8x4)"
                                                          : "AVX 8x4 (Tavrel_8x4)";
}
}  // namespace

std::string KernelFormName(std::int32_t method, std::int32_t isa_level) {
    switch (method) {
        case kMethodClassic: return "scalar r-c-k loop";
        case kMethodHp: return "scalar r-k-c loop";
        case kMethodBlockCache: return "scalar cache blocks";
        case kMethodBlockPack2x2: return "scalar 2x2 registers";
        case kMethodVectorPack:
            return isa_level == kIsaSse2 ? "SSE2 4x4 (Tavrel)" : Tavrel8x4Form();
        default: return "unknown";
    }
}
