#include "vector_split.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {
using Wide = std::int64_t;

// Units [first, end) of `units` dealt evenly to `parts`: part p's first unit.
std::int32_t EvenEdge(std::int32_t units, std::int32_t part, std::int32_t parts) {
    return static_cast<std::int32_t>(Wide{units} * part / parts);
}

// An even share of `length` in units of `unit` (the last unit may be short).
void EvenShare(std::int32_t length, std::int32_t unit, std::int32_t part, std::int32_t parts,
               std::int32_t& first, std::int32_t& count) {
    const std::int32_t units = (length + unit - 1) / unit;
    first = std::min(length, EvenEdge(units, part, parts) * unit);
    count = std::min(length, EvenEdge(units, part + 1, parts) * unit) - first;
}

struct Groups {
    std::int32_t n, count;
    std::int32_t Row(std::int32_t g) const {  // first row of group g; n for g == count
        const std::int32_t units = (n + kSplitRowUnit - 1) / kSplitRowUnit;
        return std::min(n, EvenEdge(units, g, count) * kSplitRowUnit);
    }
};

// A place between two pieces: group g, column c (c < n; group count, 0 at the end).
struct Edge {
    std::int32_t group, column;
};

// The piece edge nearest to `work` elements into the product.
Edge NearestEdge(const Groups& groups, Wide work) {
    const Wide n = groups.n;
    for (std::int32_t g = 0; g < groups.count; ++g) {
        const Wide start = Wide{groups.Row(g)} * n, rows = groups.Row(g + 1) - groups.Row(g);
        if (work >= start + rows * n) continue;
        const Wide units = ((work - start) / rows + kSplitColumnUnit / 2) / kSplitColumnUnit;
        const Wide column = std::min(n, units * kSplitColumnUnit);
        return column == n ? Edge{g + 1, 0} : Edge{g, static_cast<std::int32_t>(column)};
    }
    return {groups.count, 0};
}
}  // namespace

ThreadSplit SplitVectorProduct(std::int32_t n, std::int32_t thread, std::int32_t threads) {
    ThreadSplit split;
    if (n < 1 || threads < 1 || thread < 0 || thread >= threads) return split;
    EvenShare(n, kSplitPackUnit, thread, threads, split.pack_row, split.pack_rows);
    EvenShare(n, kSplitPackUnit, thread, threads, split.pack_column, split.pack_columns);

    // Groups of rows about as tall as the tiles are wide: round(sqrt(T)).
    const std::int32_t row_units = (n + kSplitRowUnit - 1) / kSplitRowUnit;
    const auto root =
        static_cast<std::int32_t>(std::lround(std::sqrt(static_cast<double>(threads))));
    const Groups groups{n, std::clamp(root, 1, row_units)};
    const Wide total = Wide{n} * n;
    const Edge from = NearestEdge(groups, total * thread / threads);
    const Edge to = NearestEdge(groups, total * (thread + 1) / threads);
    const auto add = [&](std::int32_t g_first, std::int32_t g_end, std::int32_t c_first,
                         std::int32_t c_end) {
        if (g_end <= g_first || c_end <= c_first) return;
        const std::int32_t row = groups.Row(g_first);
        split.tiles[split.tile_count++] = {row, groups.Row(g_end) - row, c_first, c_end - c_first};
    };
    if (from.group == to.group) {
        add(from.group, from.group + 1, from.column, to.column);
        return split;
    }
    std::int32_t whole = from.group;  // the first group this thread takes whole
    if (from.column > 0) add(from.group, ++whole, from.column, n);
    add(whole, to.group, 0, n);
    if (to.group < groups.count) add(to.group, to.group + 1, 0, to.column);
    return split;
}
