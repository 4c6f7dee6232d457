// Which code did the arithmetic of a run: the loop form of methods 0 to 3,
// the kernel library and register block of method 4 at its IsaLevel, or the
// reference BLAS. Method 4's AVX levels both run the form of Tavrel_8x4's
// kernel that the library reports (built without FMA; "AVX+FMA3" only names
// the processor's level).
#pragma once

#include <cstdint>
#include <string>

// "SSE2 4x4 (Tavrel)", "AVX 8x4 (Tavrel_8x4)", "scalar 2x2 registers", ...
// Contains no comma, so CSV fields and plot keys stay plain.
std::string KernelFormName(std::int32_t method, std::int32_t isa_level);
