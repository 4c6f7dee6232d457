// The slot state as the library's own routines see it.
#pragma once

namespace tavrel8x4 {
// BB slot `slot` of the last successful Init, or null before Init, after
// Free and for an index outside 0 .. slot count - 1.
double* BbSlot(int slot);
}  // namespace tavrel8x4
