// How method 4's AVX path shares a product among a team: every element of C
// in exactly one tile, each panel packed exactly once, tiles on whole
// register-block units, and even work for the machines people run it on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "vector_split.h"

namespace {
struct Interval {
    std::int32_t first, count;
};

// Intervals that are each other's continuation from 0 to n, in thread order,
// each starting at a multiple of `unit`.
::testing::AssertionResult CoverExactlyOnce(const std::vector<Interval>& shares, std::int32_t n,
                                            std::int32_t unit) {
    std::int32_t next = 0;
    for (std::size_t t = 0; t < shares.size(); ++t) {
        const Interval& s = shares[t];
        if (s.count < 0 || (s.count > 0 && (s.first != next || s.first % unit != 0))) {
            return ::testing::AssertionFailure() << "thread " << t << " from " << s.first << ", "
                                                 << s.count << " long; expected from " << next;
        }
        next += s.count;
    }
    if (next != n) return ::testing::AssertionFailure() << "covered up to " << next << " of " << n;
    return ::testing::AssertionSuccess();
}

std::vector<ThreadSplit> SplitsOf(std::int32_t n, std::int32_t threads) {
    std::vector<ThreadSplit> splits;
    for (std::int32_t t = 0; t < threads; ++t) splits.push_back(SplitVectorProduct(n, t, threads));
    return splits;
}

std::int64_t Work(const ThreadSplit& s) {
    std::int64_t work = 0;
    for (int i = 0; i < s.tile_count; ++i)
        work += std::int64_t{s.tiles[i].rows} * s.tiles[i].columns;
    return work;
}

// Every tile on whole units (rows from multiples of 24, columns from
// multiples of 8, ending on one or at n), inside C and disjoint from every
// other tile, and the areas add up to n*n: each element exactly once.
::testing::AssertionResult TilesCoverCOnce(std::int32_t n, const std::vector<ThreadSplit>& splits) {
    std::vector<SplitTile> tiles;
    for (const ThreadSplit& s : splits) {
        if (s.tile_count < 0 || s.tile_count > kSplitMaxTiles)
            return ::testing::AssertionFailure() << s.tile_count << " tiles";
        tiles.insert(tiles.end(), s.tiles, s.tiles + s.tile_count);
    }
    std::int64_t area = 0;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const SplitTile& a = tiles[i];
        const std::int32_t row_end = a.row + a.rows, column_end = a.column + a.columns;
        const bool whole_units = a.row % kSplitRowUnit == 0 && a.column % kSplitColumnUnit == 0 &&
                                 (row_end % kSplitRowUnit == 0 || row_end == n) &&
                                 (column_end % kSplitColumnUnit == 0 || column_end == n);
        if (a.rows <= 0 || a.columns <= 0 || a.row < 0 || a.column < 0 || row_end > n ||
            column_end > n || !whole_units) {
            return ::testing::AssertionFailure() << "tile " << a.row << "+" << a.rows << " x "
                                                 << a.column << "+" << a.columns << " of n " << n;
        }
        for (std::size_t j = 0; j < i; ++j) {
            const SplitTile& b = tiles[j];
            const bool apart = row_end <= b.row || b.row + b.rows <= a.row ||
                               column_end <= b.column || b.column + b.columns <= a.column;
            if (!apart)
                return ::testing::AssertionFailure() << "tiles " << i << " and " << j << " overlap";
        }
        area += std::int64_t{a.rows} * a.columns;
    }
    if (area != std::int64_t{n} * n) return ::testing::AssertionFailure() << "area " << area;
    return ::testing::AssertionSuccess();
}
}  // namespace

TEST(VectorSplit, EveryElementIsComputedOnceAndEveryPanelPackedOnce) {
    std::vector<std::int32_t> orders;
    for (std::int32_t n = 1; n <= 120; ++n) orders.push_back(n);
    for (std::int32_t n : {176, 199, 352, 880, 1000, 1936, 2000, 4048}) orders.push_back(n);
    for (const std::int32_t n : orders) {
        for (std::int32_t threads = 1; threads <= 128; threads += threads < 16 ? 1 : 7) {
            SCOPED_TRACE(testing::Message() << "n " << n << " threads " << threads);
            const std::vector<ThreadSplit> splits = SplitsOf(n, threads);
            ASSERT_TRUE(TilesCoverCOnce(n, splits));
            std::vector<Interval> rows, columns;
            for (const ThreadSplit& s : splits) {
                rows.push_back({s.pack_row, s.pack_rows});
                columns.push_back({s.pack_column, s.pack_columns});
            }
            ASSERT_TRUE(CoverExactlyOnce(rows, n, kSplitPackUnit));
            ASSERT_TRUE(CoverExactlyOnce(columns, n, kSplitPackUnit));
        }
    }
}

// What all threads pack together, over n 176..8096 and up to 128 threads:
// each depth block's A panel (n rows) and B panel (n columns) once, exactly
// what one thread packs (twice that is the bound).
TEST(VectorSplit, TheTeamPacksNoMoreThanOneThread) {
    for (std::int32_t n = 176; n <= 8096; n += 176) {
        for (std::int32_t threads = 1; threads <= 128; ++threads) {
            std::int64_t packed = 0;
            for (const ThreadSplit& s : SplitsOf(n, threads))
                packed += s.pack_rows + s.pack_columns;
            ASSERT_EQ(packed, 2 * std::int64_t{n}) << "n " << n << " threads " << threads;
        }
    }
}

// For n from 1936 on and up to 64 threads every thread's share of C is
// within 5 % of the mean, and no thread is left without work.
TEST(VectorSplit, WorkIsEvenFromOrder1936UpTo64Threads) {
    for (std::int32_t n = 1936; n <= 8096; n += n < 2200 ? 8 : 88) {
        for (std::int32_t threads = 1; threads <= 64; ++threads) {
            const double mean = static_cast<double>(n) * n / threads;
            for (const ThreadSplit& s : SplitsOf(n, threads)) {
                ASSERT_LE(Work(s), 1.05 * mean) << "n " << n << " threads " << threads;
                ASSERT_GE(Work(s), 0.95 * mean) << "n " << n << " threads " << threads;
            }
        }
    }
}

// Tiles are about square where there are threads enough: one thread, or two
// (halves of the columns), take all rows; 64 threads at n 1936 take tiles
// of about 240 x 240.
TEST(VectorSplit, TilesGrowSquareWithTheTeam) {
    const ThreadSplit one = SplitVectorProduct(1936, 0, 1);
    ASSERT_EQ(one.tile_count, 1);
    EXPECT_EQ(one.tiles[0].rows, 1936);
    EXPECT_EQ(one.tiles[0].columns, 1936);
    const ThreadSplit half = SplitVectorProduct(1936, 1, 2);
    ASSERT_EQ(half.tile_count, 1);
    EXPECT_EQ(half.tiles[0].rows, 1936);
    EXPECT_EQ(half.tiles[0].column, 968);
    for (const ThreadSplit& s : SplitsOf(1936, 64)) {
        for (int i = 0; i < s.tile_count; ++i) EXPECT_LE(s.tiles[i].rows, 264);
        const SplitTile& widest = *std::max_element(
            s.tiles, s.tiles + s.tile_count,
            [](const SplitTile& a, const SplitTile& b) { return a.columns < b.columns; });
        EXPECT_GE(widest.columns, 112);
    }
}

TEST(VectorSplit, AThreadOutsideTheTeamGetsNothing) {
    for (const auto& [thread, threads] : {std::pair{2, 2}, std::pair{-1, 2}, std::pair{0, 0}}) {
        const ThreadSplit s = SplitVectorProduct(100, thread, threads);
        EXPECT_EQ(s.tile_count, 0);
        EXPECT_EQ(s.pack_rows + s.pack_columns, 0);
    }
}
