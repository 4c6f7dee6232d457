// Built with -ffp-contract=off: no multiply-add is fused.
#include "support/gemm_reference.h"

double OrderedDot(int K, const double* a, std::ptrdiff_t a_step, const double* b,
                  std::ptrdiff_t b_step) {
    double sum = 0.0;
    for (int k = 0; k < K; ++k) {
        const double product = a[k * a_step] * b[k * b_step];
        sum = sum + product;
    }
    return sum;
}

double VectorRule(double alpha, double s, double beta, double c_old) {
    return beta == 0.0 ? alpha * s : ScalarRule(alpha, s, beta, c_old);
}

double ScalarRule(double alpha, double s, double beta, double c_old) {
    const double scaled_c = beta * c_old;
    const double scaled_s = alpha * s;
    return scaled_c + scaled_s;
}

double FourLaneDot(int K4, const double* a, const double* b) {
    double lane[4];
    for (int l = 0; l < 4; ++l) lane[l] = OrderedDot(K4 / 4, a + l, 4, b + l, 4);
    return ((lane[0] + lane[1]) + lane[2]) + lane[3];
}
