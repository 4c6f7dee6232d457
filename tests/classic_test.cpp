#include <gtest/gtest.h>

#include <vector>

#include "methods.h"

TEST(Classic, OrderTwoOnThePreparedData) {
    // A(r, c) = 1 + r*n + c from index 1, B = 100*A.
    const std::vector<double> a = {0, 1, 2, 3, 4, 0}, b = {0, 100, 200, 300, 400, 0};
    std::vector<double> c(6, -7.0);
    MultClassic(2, a.data(), b.data(), c.data());
    EXPECT_EQ(c, (std::vector<double>{-7, 700, 1000, 1500, 2200, -7}));
}

TEST(Classic, OrderOneTouchesOnlyItsElement) {
    const std::vector<double> a = {9, 3, 9}, b = {9, 5, 9};
    std::vector<double> c = {-1, 42, -1};
    MultClassic(1, a.data(), b.data(), c.data());
    EXPECT_EQ(c, (std::vector<double>{-1, 15, -1}));
}

TEST(Classic, NonPositiveOrderReadsAndWritesNothing) {
    MultClassic(0, nullptr, nullptr, nullptr);
    MultClassic(-5, nullptr, nullptr, nullptr);
}

TEST(Classic, SumsInIncreasingDepthAndOverwritesC) {
    // Row (1e16, 1, -1e16) times a column of ones: increasing k gives
    // (1e16 + 1) - 1e16 = 0 in double precision, whatever C held before.
    const int n = 3;
    std::vector<double> a(n * n + 2, 0.0), b(n * n + 2, 1.0), c(n * n + 2, 123.0);
    a[1] = 1e16;
    a[2] = 1.0;
    a[3] = -1e16;
    MultClassic(n, a.data(), b.data(), c.data());
    EXPECT_EQ(c[1], 0.0);
    EXPECT_EQ(c[0], 123.0);
    EXPECT_EQ(c[n * n + 1], 123.0);
}

TEST(Classic, ProductWithoutOffsetUsesIndicesFromZero) {
    const std::vector<double> a = {1, 2, 3, 4}, b = {100, 200, 300, 400};
    std::vector<double> c(5, -3.0);
    ClassicProduct(2, a.data(), b.data(), c.data());
    EXPECT_EQ(c, (std::vector<double>{700, 1000, 1500, 2200, -3}));
}
