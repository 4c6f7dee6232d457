#include "kernel_form.h"

#include "methods.h"
#include "run_parameters.h"

std::string KernelFormName(std::int32_t method, std::int32_t isa_level) {
    switch (method) {
        case kMethodClassic: return "scalar r-c-k loop";
        case kMethodHp: return "scalar r-k-c loop";
        case kMethodBlockCache: return "scalar cache blocks";
        case kMethodBlockPack2x2: return "scalar 2x2 registers";
        case kMethodVectorPack: return VectorPackKernelForm(isa_level);
        default: return "unknown";
    }
}
