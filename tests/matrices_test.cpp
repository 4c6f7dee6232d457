#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "matrices.h"
#include "methods.h"
#include "run_parameters.h"
#include "support/recorders.h"

namespace {
// Zeroed buffers of n*n+2 doubles, as the run hands them to preparation.
struct Buffers {
    explicit Buffers(int n) : n(n), a(n * n + 2, 0.0), b(n * n + 2, 0.0), c(n * n + 2, 0.0) {}
    int n;
    std::vector<double> a, b, c;
};

// Prepares and multiplies as the run would for the method's layout.
Buffers PreparedProduct(int method, int n, std::int32_t& level) {
    Buffers m(n);
    PrepareMatrices(method, n, m.a.data(), m.b.data(), level);
    if (method == kMethodVectorPack) {
        ClassicProduct(n, m.a.data(), level == kIsaSse2 ? m.b.data() + 1 : m.b.data(), m.c.data());
    } else {
        MultClassic(n, m.a.data(), m.b.data(), m.c.data());
    }
    return m;
}

CheckVerdict Check(int method, const Buffers& m, std::int32_t level) {
    return CheckResult(method, m.n, m.a.data(), m.b.data(), m.c.data(), level);
}
}  // namespace

TEST(Preparation, OffsetLayoutForMethodsZeroToThree) {
    for (int method = 0; method <= 3; ++method) {
        Buffers m(2);
        m.a[5] = m.b[5] = -1.0;  // beyond n*n: not written
        std::int32_t level = 0;
        PrepareMatrices(method, 2, m.a.data(), m.b.data(), level);
        EXPECT_EQ(m.a, (std::vector<double>{0, 1, 2, 3, 4, -1})) << method;
        EXPECT_EQ(m.b, (std::vector<double>{0, 100, 200, 300, 400, -1})) << method;
        EXPECT_EQ(level, 0);
    }
}

TEST(Preparation, VectorLayoutAtEachLevel) {
    const int n = 3;
    for (std::int32_t level : {kIsaSse2, kIsaAvx, kIsaAvxFma3}) {
        Buffers m(n);
        PrepareMatrices(kMethodVectorPack, n, m.a.data(), m.b.data(), level);
        const int b_offset = level == kIsaSse2 ? 1 : 0;
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                const double expected = std::sqrt(double((r + 1) * (c + 1)));
                EXPECT_EQ(m.a[r * n + c], expected);
                EXPECT_EQ(m.b[b_offset + r * n + c], expected + expected);
            }
        }
        if (level == kIsaSse2) {
            EXPECT_EQ(m.b[0], 0.0);
            EXPECT_EQ(m.b[n * n], 2 * std::sqrt(double(n * n)));
        } else {
            EXPECT_EQ(m.b[n * n], 0.0);
        }
    }
}

TEST(Check, ExactProductsPassForEveryLayout) {
    NoticeRecorder notices;
    for (int method = 0; method <= 4; ++method) {
        std::int32_t level = 0;
        const Buffers m = PreparedProduct(method, 5, level);
        EXPECT_EQ(Check(method, m, level), CheckVerdict::Passed) << method;
    }
    for (std::int32_t level : {kIsaSse2, kIsaAvx}) {  // B from index 1, and from index 0
        const Buffers m = PreparedProduct(kMethodVectorPack, 6, level);
        EXPECT_EQ(Check(kMethodVectorPack, m, level), CheckVerdict::Passed) << level;
    }
    EXPECT_TRUE(notices.notices.empty());
}

TEST(Check, VectorLayoutMatchesTheClosedForm) {
    const int n = 7;
    std::int32_t level = 0;
    Buffers m = PreparedProduct(kMethodVectorPack, n, level);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const double closed = n * (n + 1.0) * std::sqrt(double((r + 1) * (c + 1)));
            EXPECT_NEAR(m.c[r * n + c], closed, 1e-12 * closed);
        }
    }
}

TEST(Check, RelativeErrorAboveTheToleranceFailsOnce) {
    NoticeRecorder notices;
    std::int32_t level = 0;
    Buffers m = PreparedProduct(kMethodClassic, 4, level);
    m.c[3] *= 1 + 1e-9;
    m.c[7] *= 1 + 4e-9;
    double largest = 0;
    EXPECT_EQ(CheckResult(kMethodClassic, m.n, m.a.data(), m.b.data(), m.c.data(), level, &largest),
              CheckVerdict::Failed);
    EXPECT_EQ(notices.notices, std::vector<std::string>{"Check Error"});
    EXPECT_NEAR(largest, 4e-9, 1e-12);  // the scan goes on past the first failure

    m = PreparedProduct(kMethodClassic, 4, level);
    m.c[3] *= 1 + 1e-11;
    EXPECT_EQ(Check(kMethodClassic, m, level), CheckVerdict::Passed);
}

TEST(Check, SmallValuesAreMeasuredAgainstTheFloor) {
    NoticeRecorder notices;
    // A product that is zero everywhere: A = 0.
    Buffers m(3);
    m.b.assign(m.b.size(), 1.0);
    m.c[2] = 1e-19;  // |1e-19 / 1e-8| = 1e-11: passes
    EXPECT_EQ(Check(kMethodClassic, m, 0), CheckVerdict::Passed);
    m.c[2] = 1e-17;  // 1e-9: fails
    EXPECT_EQ(Check(kMethodClassic, m, 0), CheckVerdict::Failed);
    EXPECT_EQ(notices.notices.size(), 1u);
}

TEST(Check, ANumberThatIsNotANumberFails) {
    NoticeRecorder notices;
    std::int32_t level = 0;
    Buffers m = PreparedProduct(kMethodClassic, 3, level);
    m.c[5] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Check(kMethodClassic, m, level), CheckVerdict::Failed);
    EXPECT_EQ(notices.notices, std::vector<std::string>{"Check Error"});
}

TEST(Check, ReferenceUnavailableEndsWithoutVerdict) {
    std::int32_t level = 0;
    const Buffers m = PreparedProduct(kMethodClassic, 3, level);
    const long live_before = memory_testing::LiveAllocations();
    {
        NoticeRecorder notices;
        ScopedAllocationFailure fail(1);
        EXPECT_EQ(Check(kMethodClassic, m, level), CheckVerdict::NoReference);
        EXPECT_EQ(notices.notices,
                  std::vector<std::string>{"Memory allocation error during check"});
    }
    {
        NoticeRecorder notices;
        ScopedAvailableMemory tight(8 * 9);  // less than n*n+1 doubles
        EXPECT_EQ(Check(kMethodClassic, m, level), CheckVerdict::NoReference);
        EXPECT_EQ(notices.notices,
                  std::vector<std::string>{"Memory allocation error during check"});
    }
    EXPECT_EQ(memory_testing::LiveAllocations(), live_before);
}
