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

// Decided once at load; a limit set later can only narrow it.
const bool kAvx512Allowed = [] {
    const char* form = std::getenv("TAVREL_8X4_FORM");
    const cpu_probe::Registers r = cpu_probe::Read();
    const bool avx_forced = form != nullptr && std::strcmp(form, "avx") == 0;
    return !avx_forced && cpu_probe::RunsAvx(r) && cpu_probe::RunsAvx512(r);
}();

std::atomic<Form> current_form{kAvx512Allowed ? MultiplyAvx512 : MultiplyAvx};

}  // namespace

Form CurrentForm() { return current_form.load(std::memory_order_relaxed); }

int FormBits() { return CurrentForm() == MultiplyAvx512 ? 512 : 256; }

int LimitFormBits(int bits) {
    current_form.store(kAvx512Allowed && bits >= 512 ? MultiplyAvx512 : MultiplyAvx,
                       std::memory_order_relaxed);
    return FormBits();
}

}  // namespace tavrel8x4

int TAVREL_AVX_8X4_FormBits() { return tavrel8x4::FormBits(); }

int TAVREL_AVX_8X4_LimitFormBits(int bits) { return tavrel8x4::LimitFormBits(bits); }
