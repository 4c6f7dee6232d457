// The two forms of the 13-argument tavrel_AVX_8x4x16_AMD give the same bits.
// The form is chosen when Tavrel_8x4 loads (the AVX-512 form on processors
// that run it, unless TAVREL_8X4_FORM=avx) and can be narrowed to the AVX form
// later; the test runs both and compares digests of C over a set of products
// with the digest of the ordered scalar reference.
#include <gtest/gtest.h>


#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Tavrel_8x4.h"
#include "support/gemm_reference.h"

namespace {

struct Product {
    int M, N, K;
    double alpha, beta;
};

// Shapes across the 24-, 16- and 8-row blocks, the 8- and 4-column groups
// and the column chunks of the AVX-512 form (at depth 1024 a chunk is 48
// columns: 300 is six chunks, then 8 and 4 columns), the 4-row block, the
// strips and the tail panels.
const Product kProducts[] = {
    {176, 1936, 176, 1.0, 1.0}, {176, 44, 176, 1.0, 0.0}, {61, 23, 19, -1.5, 2.5},
    {40, 12, 33, 2.0, -0.0},    {24, 8, 1, 1.0, 1.0},      {16, 4, 7, 0.5, 1.0},
    {8, 9, 5, 1.0, std::numeric_limits<double>::quiet_NaN()},
    {203, 31, 64, 1.0, 1.0},    {13, 7, 0, 3.0, 0.5},      {56, 300, 1024, 1.0, 1.0},
};

std::uint64_t Mix(std::uint64_t hash, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    if (std::isnan(value)) bits = 0x7ff8000000000000ull;  // NaN payloads may differ
    for (int byte = 0; byte < 8; ++byte) {
        hash ^= (bits >> (8 * byte)) & 0xffu;
        hash *= 0x100000001b3ull;  // FNV-1a
    }
    return hash;
}

struct Operands {
    std::vector<double> a, b, bb, c;  // b column by column: B(k, j) at b[k + j*K]
};

Operands MakeOperands(const Product& p, std::mt19937_64& generator) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Operands o;
    o.a.resize(static_cast<std::size_t>(p.M) * p.K);
    o.b.resize(static_cast<std::size_t>(p.K) * p.N);
    o.c.resize(static_cast<std::size_t>(p.M) * p.N);
    for (double& v : o.a) v = value(generator);
    for (double& v : o.b) v = value(generator);
    for (double& v : o.c) v = value(generator);
    // The panel format: columns j0..j0+3 at K*j0 + 4k + c, the tail at K*N4 + nr*k + c.
    o.bb.resize(o.b.size());
    const int N4 = p.N - p.N % 4;
    for (int j = 0; j < p.N; ++j) {
        const int j0 = j < N4 ? j - j % 4 : N4;
        const int width = j < N4 ? 4 : p.N % 4;
        for (int k = 0; k < p.K; ++k) {
            o.bb[static_cast<std::size_t>(p.K) * j0 + width * k + (j - j0)] =
                o.b[k + static_cast<std::size_t>(j) * p.K];
        }
    }
    return o;
}

// Digest of C after the kernel (reference false) or after the ordered scalar
// reference with the write-back rules (reference true), over all products.
std::uint64_t Digest(bool reference) {
    std::mt19937_64 generator(7);
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const Product& p : kProducts) {
        Operands o = MakeOperands(p, generator);
        if (reference) {
            const int M8 = p.M - p.M % 8, N4 = p.N - p.N % 4;
            for (int j = 0; j < p.N; ++j) {
                for (int i = 0; i < p.M; ++i) {
                    const double s = OrderedDot(p.K, o.a.data() + i, p.M,
                                                o.b.data() + static_cast<std::size_t>(j) * p.K, 1);
                    double& c = o.c[i + static_cast<std::size_t>(j) * p.M];
                    const bool vector_rule = i < M8 || (p.M % 8 >= 4 && i < M8 + 4 && j < N4);
                    c = vector_rule ? VectorRule(p.alpha, s, p.beta, c)
                                    : ScalarRule(p.alpha, s, p.beta, c);
                }
            }
        } else {
            std::vector<double> aa_storage(o.a.size() + 8);
            double* aa = aa_storage.data();
            while (reinterpret_cast<std::uintptr_t>(aa) % 64 != 0) ++aa;
            tavrel_AVX_8x4x16_AMD(p.M, p.N, p.K, p.alpha, o.a.data(), p.M, nullptr, 0, p.beta,
                                  o.c.data(), p.M, aa, o.bb.data());
        }
        for (const double v : o.c) hash = Mix(hash, v);
    }
    return hash;
}

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

bool ProcessorRunsAvx512() { return __builtin_cpu_supports("avx512f"); }

}  // namespace

// Both forms in one process: the library's width limit switches between
// them (256 keeps the AVX form; 512 restores the form chosen at load).
TEST(Tavrel8x4Forms, BothFormsMatchTheOrderedReferenceBitForBit) {
    if (!isAVXenable()) GTEST_SKIP() << "no AVX";
    const std::string expected = Hex(Digest(true));
    const int at_load = TAVREL_AVX_8X4_LimitFormBits(512);
    ASSERT_EQ(at_load, ProcessorRunsAvx512() && std::getenv("TAVREL_8X4_FORM") == nullptr ? 512 : 256);
    EXPECT_EQ(Hex(Digest(false)), expected) << "the form chosen at load (" << at_load << " bits)";
    ASSERT_EQ(TAVREL_AVX_8X4_LimitFormBits(256), 256);
    EXPECT_EQ(Hex(Digest(false)), expected) << "the AVX form";
    TAVREL_AVX_8X4_LimitFormBits(512);
    if (at_load == 256) std::printf("the 512-bit form does not run here: both used the AVX form\n");
}
