#include <gtest/gtest.h>

#include "run_parameters.h"
#include "whole_number.h"

namespace {
std::pair<std::int32_t, std::int32_t> OrderAndBlock(std::int32_t n, std::int32_t l_block) {
    RunParameters params;
    params.n = n;
    params.l_block = l_block;
    const RunParameters run = Normalised(params);
    return {run.n, run.l_block};
}

RunParameters Threading(std::int32_t n, std::int32_t threads, std::uint32_t chunk) {
    RunParameters params;
    params.n = n;
    params.l_block = n;
    params.threads = threads;
    params.chunk = chunk;
    return Normalised(params);
}
}  // namespace

TEST(Normalisation, OrderAndBlockFollowTheRunsRules) {
    EXPECT_EQ(OrderAndBlock(2000, 176), std::make_pair(1936, 176));  // the defaults
    EXPECT_EQ(OrderAndBlock(10, 176), std::make_pair(10, 10));       // lowered after rounding
    EXPECT_EQ(OrderAndBlock(100, 7), std::make_pair(100, 4));
    EXPECT_EQ(OrderAndBlock(9, 176), std::make_pair(9, 9));
    EXPECT_EQ(OrderAndBlock(1, 4), std::make_pair(1, 1));
    EXPECT_EQ(OrderAndBlock(46340, 176), std::make_pair(46288, 176));
    EXPECT_EQ(OrderAndBlock(1000, 300), std::make_pair(900, 300));
}

TEST(Normalisation, ThreadsAreRaisedAndChunkLowered) {
    RunParameters run = Threading(100, 0, 100);
    EXPECT_EQ(run.threads, 1);
    EXPECT_EQ(run.chunk, 100u);

    run = Threading(100, 8, run.chunk);
    EXPECT_EQ(run.chunk, 12u);
    EXPECT_EQ(Threading(2000, 8, run.chunk).chunk, 12u);  // never raised
    EXPECT_EQ(Threading(9, 16, 12).chunk, 0u);            // more threads than rows
}

TEST(Normalisation, LeavesTheOtherFieldsAsGiven) {
    RunParameters params;
    params.method = kMethodVectorPack;
    params.parallel_kind = kParallelTbb;
    params.check = true;
    params.isa_cap = VectorIsaCap::Avx2;
    const RunParameters run = Normalised(params);
    EXPECT_EQ(run.method, kMethodVectorPack);
    EXPECT_EQ(run.parallel_kind, kParallelTbb);
    EXPECT_TRUE(run.check);
    EXPECT_EQ(run.isa_cap, VectorIsaCap::Avx2);
}

TEST(ParameterProblem, RefusesValuesWithNoDefinedOutcome) {
    RunParameters params;
    EXPECT_FALSE(ParameterProblem(params));
    for (auto [n, l_block, method] : {std::tuple{0, 176, 0},
                                      {-3, 176, 0},
                                      {46341, 176, 0},
                                      {100, 3, 0},
                                      {100, -4, 0},
                                      {100, 176, 5},
                                      {100, 176, -1}}) {
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
