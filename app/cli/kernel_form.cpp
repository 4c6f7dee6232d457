#include "kernel_form.h"

#include "processor_info.h"
#include "run_parameters.h"

namespace {
// The form Tavrel_8x4 runs on the AVX levels. The library picks its code once
// at load time; a wider form it may pick there gets its own name here.
std::string Tavrel8x4Form() { return "AVX 8x4 (Tavrel_8x4)"; }
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
