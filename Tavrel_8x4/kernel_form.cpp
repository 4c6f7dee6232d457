// The choice of the kernel form at load (see kernel_forms.h). Built for
// baseline x86-64: the static initialiser runs on every processor, with or
// without AVX, and only takes the address of the form it chooses.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Tavrel_8x4.h"
#include "cpu_probe.h"
#include "kernel_forms.h"

namespace tavrel8x4 {
namespace {

bool ProcessorRunsAvx512() {
    const cpu_probe::Registers r = cpu_probe::Read();
    return cpu_probe::RunsAvx(r) && cpu_probe::RunsAvx512(r);
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
