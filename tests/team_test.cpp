// The parallel methods with whatever team OpenMP gives: fewer threads than
// asked (OMP_THREAD_LIMIT, OMP_DYNAMIC; ctest runs this suite once more under
// each) or a team of one inside an enclosing parallel region. Every method
// must compute the whole product with the bits of its one-thread product and
// touch nothing beside its matrices (the sanitizer build watches that).
#include <gtest/gtest.h>
#include <omp.h>

#include <strings.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Tavrel_8x4.h"
#include "methods.h"
#include "support/recorders.h"

namespace {
// A, B and C of order n as the methods take them (n*n+2 doubles each), with
// random A and B and a zero C.
struct Product {
    explicit Product(int order) : n(order), a(Size()), b(Size()), c(Size(), 0.0) {
        std::mt19937_64 engine(static_cast<std::uint64_t>(order));
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        for (std::size_t i = 0; i < Size(); ++i) a[i] = value(engine), b[i] = value(engine);
    }
    std::size_t Size() const { return static_cast<std::size_t>(n) * n + 2; }
    int n;
    std::vector<double> a, b, c;
};

struct ParallelMethod {
    std::string name;
    std::function<void(Product&, int threads)> multiply;
};

std::vector<ParallelMethod> ParallelMethods(int l_block) {
    std::vector<ParallelMethod> methods = {
        {"HP",
         [](Product& p, int t) {
             MultHP(p.n, t, 7, kParallelOpenMp, p.a.data(), p.b.data(), p.c.data());
         }},
        {"Block_cache",
         [l_block](Product& p, int t) {
             MultBlockCache(p.n, l_block, t, kParallelOpenMp, p.a.data(), p.b.data(), p.c.data());
         }},
        {"vector-pack SSE2",
         [l_block](Product& p, int t) {
             const std::int32_t level = kIsaSse2;
             MultVectorPack(p.n, l_block, t, kParallelOpenMp, p.a.data(), p.b.data(), p.c.data(),
                            level);
         }},
    };
    if (isAVXenable() == 1 && SupportedIsaLevel() >= kIsaAvx) {
        for (const int bits : {256, 512}) {
            methods.push_back(
                {"vector-pack AVX " + std::to_string(bits), [l_block, bits](Product& p, int t) {
                     TAVREL_AVX_8X4_LimitFormBits(bits);
                     MultVectorPack_AVX(p.n, l_block, t, p.a.data(), p.b.data(), p.c.data());
                     TAVREL_AVX_8X4_LimitFormBits(512);
                 }});
        }
    }
    return methods;
}

::testing::AssertionResult SameBits(const std::vector<double>& x, const std::vector<double>& y) {
    if (x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the products differ";
}

// Orders with several depth blocks and tiles, and a short last row unit.
constexpr int kOrders[][2] = {{200, 40}, {104, 8}};
}  // namespace

// The environment this process runs under, as the OpenMP runtime read it.
TEST(AnyTeam, TheRuntimeTakesTheEnvironment) {
    if (const char* limit = std::getenv("OMP_THREAD_LIMIT")) {
        EXPECT_EQ(omp_get_thread_limit(), std::atoi(limit));
    }
    if (const char* dynamic = std::getenv("OMP_DYNAMIC")) {
        EXPECT_EQ(omp_get_dynamic() != 0, strcasecmp(dynamic, "true") == 0);
    }
}

TEST(AnyTeam, EveryParallelMethodGivesTheOneThreadBitsWhateverTheTeam) {
    NoticeRecorder notices;
    for (const auto& [n, l_block] : kOrders) {
        for (const ParallelMethod& method : ParallelMethods(l_block)) {
            Product one(n);
            method.multiply(one, 1);
            for (int threads = 2; threads <= 8; ++threads) {
                Product p(n);
                method.multiply(p, threads);
                EXPECT_TRUE(SameBits(one.c, p.c))
                    << method.name << " n " << n << " threads " << threads;
            }
        }
    }
    EXPECT_TRUE(notices.notices.empty());
}

// Called on one thread of an enclosing parallel region, a method's own
// region gets a team of one (nested regions are inactive by default).
TEST(AnyTeam, EveryParallelMethodRunsInsideAnEnclosingParallelRegion) {
    NoticeRecorder notices;
    const auto& [n, l_block] = kOrders[0];
    for (const ParallelMethod& method : ParallelMethods(l_block)) {
        Product one(n), inside(n);
        method.multiply(one, 1);
#pragma omp parallel num_threads(2)
        {
#pragma omp single
            method.multiply(inside, 4);
        }
        EXPECT_TRUE(SameBits(one.c, inside.c)) << method.name;
    }
    EXPECT_TRUE(notices.notices.empty());
}
