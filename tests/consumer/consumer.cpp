// A program built against the installed kernel libraries, as a user would
// write one: C := A*B of order 8 x 4 x 3 through Tavrel_8x4's slots, its
// B-panel packing and its 13-argument kernel (on an AVX processor), and a
// 4x4 product of ones through the SSE2 kernel of Tavrel.
#include <Tavrel.h>
#include <Tavrel_8x4.h>
#include <Tavrel_8x4_tuning.h>

#include <cstdio>
#include <cstdlib>

namespace {

// C (8 x 4) := A (8 x 3) * B (3 x 4), all column-major; true when C is right.
bool Product8x4() {
    constexpr int M = 8, N = 4, K = 3;
    // Slots for calls of up to N columns, depth K and M rows: Init(N, K, M, 1).
    if (TAVREL_AVX_8X4_Init(N, K, M, 1) != 1) return false;
    alignas(32) double a[M * K], b[K * N], c[M * N] = {};
    for (int i = 0; i < M * K; ++i) a[i] = i % 5;
    for (int i = 0; i < K * N; ++i) b[i] = i % 3 - 1;
    // B(k, j) at b[j*K + k] into BB slot 0, then A packed into AA slot 0 by the kernel.
    Pack_BBTRANSP_AMD(N, K, K, 0, b);
    tavrel_AVX_8x4x16_AMD(M, N, K, 1.0, a, M, nullptr, 0, 0.0, c, M, TAVREL_AVX_8X4_GET_AA()[0],
                          TAVREL_AVX_8X4_GET_BB()[0]);
    TAVREL_AVX_8X4_Free();
    for (int i = 0; i < M; ++i) {
        for (int j = 0; j < N; ++j) {
            double sum = 0.0;
            for (int k = 0; k < K; ++k) sum += a[i + k * M] * b[k + j * K];
            if (c[i + j * M] != sum) return false;
        }
    }
    return true;
}

}  // namespace

int main() {
    const bool avx = isAVXenable() == 1;
    const bool kernel = !avx || Product8x4();
    alignas(16) double a[16], panel[16], c[16] = {}, strip[16], aa[32];
    for (int i = 0; i < 16; ++i) a[i] = panel[i] = 1.0;
    MultBlock_4x4xK_2(4, 4, 4, 4, 0, 0, a, panel, c, strip, aa);
    const bool product = c[0] == 4.0 && c[15] == 4.0;
    std::printf("8x4 kernel %s, 4x4 product %s, fnTavrel %d, call rows %d\n",
                avx ? (kernel ? "right" : "wrong") : "not run (no AVX)",
                product ? "right" : "wrong", fnTavrel(), tavrel8x4::kCallRowUnit);
    return kernel && product ? EXIT_SUCCESS : EXIT_FAILURE;
}
