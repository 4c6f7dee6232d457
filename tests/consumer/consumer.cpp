// Uses one export of each installed kernel library: the slot state of
// Tavrel_8x4 and the SSE2 kernel of Tavrel (a 4x4 product of ones), and the
// sizes of Tavrel_8x4's tuning header.
#include <Tavrel.h>
#include <Tavrel_8x4.h>
#include <Tavrel_8x4_tuning.h>

#include <cstdio>
#include <cstdlib>

int main() {
    if (TAVREL_AVX_8X4_Init(4, 4, 4, 1) != 1) return 1;
    const bool slots = TAVREL_AVX_8X4_GET_AA()[0] != nullptr;
    TAVREL_AVX_8X4_Free();
    alignas(16) double a[16], panel[16], c[16] = {}, strip[16], aa[32];
    for (int i = 0; i < 16; ++i) a[i] = panel[i] = 1.0;
    MultBlock_4x4xK_2(4, 4, 4, 4, 0, 0, a, panel, c, strip, aa);
    const bool product = c[0] == 4.0 && c[15] == 4.0;
    std::printf("slots %s, product %s, fnTavrel %d, call rows %d\n", slots ? "yes" : "no",
                product ? "right" : "wrong", fnTavrel(), tavrel8x4::kCallRowUnit);
    return slots && product ? EXIT_SUCCESS : EXIT_FAILURE;
}
