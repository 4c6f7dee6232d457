#include <gtest/gtest.h>

#include "run_parameters.h"
#include "whole_number.h"

namespace {
std::pair<std::int32_t, std::int32_t> Normalised(std::int32_t n, std::int32_t l_block) {
    NormaliseOrderAndBlock(n, l_block);
    return {n, l_block};
}
}  // namespace

TEST(Normalisation, OrderAndBlockFollowTheRunsRules) {
    EXPECT_EQ(Normalised(2000, 176), std::make_pair(1936, 176));  // the defaults
    EXPECT_EQ(Normalised(10, 176), std::make_pair(10, 10));    // lowered after rounding
    EXPECT_EQ(Normalised(100, 7), std::make_pair(100, 4));
    EXPECT_EQ(Normalised(9, 176), std::make_pair(9, 9));
    EXPECT_EQ(Normalised(1, 4), std::make_pair(1, 1));
    EXPECT_EQ(Normalised(46340, 176), std::make_pair(46288, 176));
    EXPECT_EQ(Normalised(1000, 300), std::make_pair(900, 300));
}

TEST(Normalisation, ThreadsAreRaisedAndChunkLowered) {
    std::int32_t threads = 0;
    std::uint32_t chunk = 100;
    NormaliseThreading(100, threads, chunk);
    EXPECT_EQ(threads, 1);
    EXPECT_EQ(chunk, 100u);

    threads = 8;
    NormaliseThreading(100, threads, chunk);
    EXPECT_EQ(chunk, 12u);
    NormaliseThreading(2000, threads, chunk);  // never grows back
    EXPECT_EQ(chunk, 12u);

    threads = 16;
    NormaliseThreading(9, threads, chunk);  // more threads than rows
    EXPECT_EQ(chunk, 0u);
}

TEST(ParameterProblem, RefusesValuesWithNoDefinedOutcome) {
    RunParameters params;
    EXPECT_FALSE(ParameterProblem(params));
    for (auto [n, l_block, method] : {std::tuple{0, 176, 0}, {-3, 176, 0}, {46341, 176, 0},
                                      {100, 3, 0}, {100, -4, 0}, {100, 176, 5}, {100, 176, -1}}) {
        params.n = n;
        params.l_block = l_block;
        params.method = method;
        EXPECT_TRUE(ParameterProblem(params)) << n << " " << l_block << " " << method;
    }
    params = RunParameters{};
    params.n = 46340;
    params.l_block = 4;
    params.method = 4;
    EXPECT_FALSE(ParameterProblem(params));
}

// One rule for every whole number of the command line, options and lists.
TEST(WholeNumber, DigitsWithAnOptionalMinusAndNothingElse) {
    EXPECT_EQ(ParseWholeNumber("176"), 176);
    EXPECT_EQ(ParseWholeNumber("-5"), -5);
    EXPECT_EQ(ParseWholeNumber("0042"), 42);
    EXPECT_EQ(ParseWholeNumber("9223372036854775807"), 9223372036854775807LL);
    for (const char* text : {"", "-", "+12", " 12", "12 ", "1e3", "0x10", "12abc", "1,000",
                             "9223372036854775808", "-9223372036854775809"}) {
        EXPECT_FALSE(ParseWholeNumber(text).has_value()) << "'" << text << "'";
    }
}
