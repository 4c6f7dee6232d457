// The sizes of Tavrel_8x4 that a program planning its calls and its memory
// needs, so that it takes them from the library instead of keeping copies.
// Counts are in rows and columns of C, sizes in bytes.
#pragma once

#include <cstddef>

namespace tavrel8x4 {

// Rows of the tallest register block (the 512-bit form's 24 x 8): calls of
// the packed kernel whose rows are a multiple of it run no shorter block.
inline constexpr int kCallRowUnit = 24;
// Columns of the widest register block: tiles of C cut at multiples of it
// run no narrower block.
inline constexpr int kCallColumnUnit = 8;
// Rows of a packed-A block: Pack_AA_AMD pieces of one packed A start at
// multiples of it.
inline constexpr int kPackRowUnit = 8;
// Slots of at least this size are anonymous mappings (zero pages, no clearing).
inline constexpr std::size_t kMappedSlotBytes = std::size_t{256} << 10;
// Mapped slots take whole pages of this size (huge pages where offered).
inline constexpr std::size_t kSlotPageBytes = std::size_t{2} << 20;

// The memory a slot of `bytes` takes: mapped slots in whole pages.
constexpr std::size_t SlotFootprint(std::size_t bytes) {
    const std::size_t pages = (bytes + kSlotPageBytes - 1) / kSlotPageBytes;
    return bytes < kMappedSlotBytes ? bytes : pages * kSlotPageBytes;
}

}  // namespace tavrel8x4
