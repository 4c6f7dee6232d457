// The one place that asks the processor what it offers and the operating
// system what register state it saves: cpuid, xgetbv, and the rules that
// turn their bits into answers. Built for baseline x86-64, so it runs on any
// processor; a static library linked privately, with hidden visibility, into
// vorp_core and into Tavrel_8x4.
#pragma once

#include <cstdint>

namespace cpu_probe {

struct Leaf {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// cpuid of `leaf`, sub-leaf 0 (zeros beyond the highest leaf).
Leaf Cpuid(std::uint32_t leaf);

// The bits the rules below read.
struct Registers {
    std::uint32_t leaf1_ecx = 0, leaf1_edx = 0, leaf7_ebx = 0;
    std::uint64_t xcr0 = 0;  // 0 without OSXSAVE
};

// This processor's bits.
Registers Read();
// XCR0, or 0 when leaf 1's ECX says the operating system uses no XSAVE.
std::uint64_t ReadXcr0(std::uint32_t leaf1_ecx);

bool HasSse2(const Registers& r);
bool HasAvx(const Registers& r);   // leaf 1 ECX bit 28
bool HasAvx2(const Registers& r);  // leaf 7 EBX bit 5
// XCR0 bits 1 and 2: the SSE and AVX registers survive a context switch.
bool SavesAvxState(const Registers& r);
// AVX with its state saved: AVX instructions run.
bool RunsAvx(const Registers& r);
// AVX-512F with the AVX-512 state (XCR0 bits 5, 6 and 7) saved as well.
bool RunsAvx512(const Registers& r);

}  // namespace cpu_probe
