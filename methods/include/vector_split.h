// How method 4's AVX path shares one product of order n among a team of
// threads: what each thread packs of every depth block's shared panels and
// which tiles of C it computes. The same for every depth block, so each
// element of C has one owner from the first depth block to the last.
//
// Packing: the packed A panel (n rows) and the packed B panel (n columns) of
// a depth block are cut into even shares of whole 8-row and 8-column units,
// one per thread; together the team packs each panel exactly once, whatever
// its size.
//
// Computing: rows are cut into round(sqrt(T)) groups of whole 24-row units
// (the tallest register block), each group's columns into 8-column units (the
// widest); the (group, column unit) pieces, taken group by group, are dealt
// out as contiguous runs of about n*n/T elements, each cut at the piece edge
// nearest its ideal end. A run is at most three tiles: the end of one group,
// whole groups, the start of the next.
#pragma once

#include <cstdint>

#include "Tavrel_8x4_tuning.h"

// The tallest and widest register blocks; the rows of a packed-A block
// (and, for columns, twice a panel group).
constexpr std::int32_t kSplitRowUnit = tavrel8x4::kCallRowUnit;
constexpr std::int32_t kSplitColumnUnit = tavrel8x4::kCallColumnUnit;
constexpr std::int32_t kSplitPackUnit = tavrel8x4::kPackRowUnit;
constexpr int kSplitMaxTiles = 3;

struct SplitTile {
    std::int32_t row = 0, rows = 0, column = 0, columns = 0;
};

struct ThreadSplit {
    // Rows pack_row .. pack_row + pack_rows - 1 of every depth block's A
    // panel and columns pack_column .. pack_column + pack_columns - 1 of its
    // B panel.
    std::int32_t pack_row = 0, pack_rows = 0;
    std::int32_t pack_column = 0, pack_columns = 0;
    int tile_count = 0;
    SplitTile tiles[kSplitMaxTiles];
};

// Thread `thread` (0 .. threads-1) of a team of `threads` (at least 1), for
// a product of order n (at least 1).
ThreadSplit SplitVectorProduct(std::int32_t n, std::int32_t thread, std::int32_t threads);
