// Slot state of Tavrel_8x4: the process-wide AA and BB slot tables, the CC
// reference, the AVX test and the empty function.
//
// States: Empty (tables null; at load and after Free) and Ready (after an Init
// that returned 1). A failed Init releases whatever it obtained and leaves the
// library Empty, so Free is always safe; an Init on a Ready library first
// releases the earlier slots. Every slot is 32-byte aligned and reads as zeros
// after Init. Large slots are anonymous mappings in huge pages where the
// system offers them: fresh ones are zero pages with nothing to clear; small
// slots come from the aligned allocator and are cleared. Free keeps the last
// slots, of every size (up to kKeptBytes), for the next Init, which clears
// and reuses those of the lengths it needs and releases the rest: a method
// that runs Init and Free around every product then touches warm pages
// instead of faulting in fresh ones inside its timed span, whatever the
// allocator would have done with freed memory.
//
// This file is built for baseline x86-64 (no AVX) so that isAVXenable runs on
// any processor.
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Tavrel_8x4.h"
#include "Tavrel_8x4_tuning.h"
#include "cpu_probe.h"
#include "relative_compare.h"
#include "slots.h"

namespace {

double** aa_table = nullptr;
double** bb_table = nullptr;
double* cc_buffer = nullptr;  // no operation of the library creates a reference
int slot_count = 0;           // as given to the last Init; Free keeps it
std::size_t aa_slot_bytes = 0;
std::size_t bb_slot_bytes = 0;

constexpr std::size_t kSlotAlignment = 32;
// Slots of at least kMappedSlotBytes (Tavrel_8x4_tuning.h) are mapped pages,
// which read as zero for free. They are whole huge pages on a huge-page
// boundary and asked to be backed by them (where transparent huge pages are
// enabled for madvise): the kernels touch a slot first inside the timed
// product, and one fault per 2 MiB costs far less than one per 4 KiB page.
using tavrel8x4::kMappedSlotBytes;
constexpr std::size_t kHugePageBytes = tavrel8x4::kSlotPageBytes;

// Bytes of a slot of `count` doubles: a multiple of the alignment, never 0.
std::size_t SlotBytes(std::int64_t count) {
    const auto bytes = static_cast<std::size_t>(count) * sizeof(double);
    if (bytes == 0) return kSlotAlignment;
    return (bytes + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment;
}

// A mapping of `length` bytes (a multiple of the huge page) that starts on a
// huge-page boundary: map one huge page more and unmap what lies outside.
void* MapHugeAligned(std::size_t length) {
    void* raw = mmap(nullptr, length + kHugePageBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    if (aligned > start) munmap(raw, aligned - start);
    const std::size_t tail = start + length + kHugePageBytes - (aligned + length);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* slot = reinterpret_cast<void*>(aligned);
    madvise(slot, length, MADV_HUGEPAGE);  // advice only: without it, small pages
    return slot;
}

// The memory a slot takes: mapped slots in whole huge pages, the others as
// allocated. Kept slots are reused by this length.
using tavrel8x4::SlotFootprint;

// The mapped length of a slot of `bytes`, or 0 for a slot from the allocator.
std::size_t MappedLength(std::size_t bytes) {
    return bytes >= kMappedSlotBytes ? SlotFootprint(bytes) : 0;
}

// Slots released by Free and kept for the next Init, mapped ones and those
// from the allocator alike: at most kKeptBytes (more than the slots of
// method 4 at n 19888 and the default l_block).
constexpr std::size_t kKeptBytes = std::size_t{64} << 20;
constexpr int kMaxKept = 16;
struct KeptSlot {
    void* start;
    std::size_t length;  // SlotFootprint
};
KeptSlot kept[kMaxKept];
int kept_count = 0;
std::size_t kept_bytes = 0;

void Drop(void* start, std::size_t length) {
    if (length >= kMappedSlotBytes) {
        munmap(start, length);
    } else {
        std::free(start);
    }
}

void Keep(void* start, std::size_t length) {
    if (kept_count == kMaxKept || kept_bytes + length > kKeptBytes) {
        Drop(start, length);
        return;
    }
    kept[kept_count++] = {start, length};
    kept_bytes += length;
}

// A kept slot of exactly `length` bytes, taken out of the list; or null.
void* TakeKept(std::size_t length) {
    for (int i = 0; i < kept_count; ++i) {
        if (kept[i].length != length) continue;
        void* start = kept[i].start;
        kept_bytes -= length;
        kept[i] = kept[--kept_count];
        return start;
    }
    return nullptr;
}

// Releases the kept slots that `slots` AA slots of aa_length and BB slots of
// bb_length (footprints) cannot reuse (lengths of 0 reuse none).
void TrimKept(std::size_t aa_length, std::size_t bb_length, int slots) {
    int aa_left = aa_length > 0 ? slots : 0;
    int bb_left = bb_length > 0 ? slots : 0;
    for (int i = 0; i < kept_count;) {
        const std::size_t length = kept[i].length;
        if (length == aa_length && aa_left > 0) {
            --aa_left;
            ++i;
        } else if (length == bb_length && bb_left > 0) {
            --bb_left;
            ++i;
        } else {
            Drop(kept[i].start, length);
            kept_bytes -= length;
            kept[i] = kept[--kept_count];
        }
    }
}

void DropAllKept() { TrimKept(0, 0, 0); }

double* AllocateZeroedSlot(std::size_t bytes) {
    const std::size_t length = SlotFootprint(bytes);
    if (void* reused = TakeKept(length)) {
        std::memset(reused, 0, bytes);  // the earlier slot's data
        return static_cast<double*>(reused);
    }
    if (MappedLength(bytes) > 0) return static_cast<double*>(MapHugeAligned(length));
    void* p = std::aligned_alloc(kSlotAlignment, bytes);
    if (p != nullptr) std::memset(p, 0, bytes);
    return static_cast<double*>(p);
}

void ReleaseSlot(double* slot, std::size_t bytes) {
    if (slot != nullptr) Keep(slot, SlotFootprint(bytes));
}

// Releases the non-null entries of a table of `entries` slots and the table.
void ReleaseTable(double**& table, int entries, std::size_t slot_bytes) {
    if (table == nullptr) return;
    for (int t = 0; t < entries; ++t) ReleaseSlot(table[t], slot_bytes);
    std::free(table);
    table = nullptr;
}

// The element count n * extent, or -1 when an operand is negative or the
// product does not fit a 32-bit signed integer.
std::int64_t ElementCount(int n, int extent) {
    if (n < 0 || extent < 0) return -1;
    const std::int64_t count = std::int64_t{n} * extent;
    return count > INT_MAX ? -1 : count;
}

// Tables with at least one entry, so that zero slots still give non-null
// (empty) tables; entries start null so a partial Init releases cleanly.
double** AllocateTable(int slots) {
    return static_cast<double**>(std::calloc(slots > 0 ? slots : 1, sizeof(double*)));
}

// Slots per Init at most: far more than threads any machine runs.
constexpr int kMaxSlots = 4096;

// Whether `slots` AA and BB slots would fit in the machine's physical memory
// (a request beyond it could only end with the process killed).
bool FitsPhysicalMemory(int slots) {
    const long pages = sysconf(_SC_PHYS_PAGES), page_bytes = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_bytes <= 0) return true;  // unknown: let the allocations decide
    const long double physical = static_cast<long double>(pages) * page_bytes;
    const long double wanted = static_cast<long double>(slots) *
                               (SlotFootprint(aa_slot_bytes) + SlotFootprint(bb_slot_bytes));
    return wanted <= physical;
}

bool AllocateSlots(int slots) {
    bb_table = AllocateTable(slots);
    aa_table = AllocateTable(slots);
    if (bb_table == nullptr || aa_table == nullptr) return false;
    for (int t = 0; t < slots; ++t) {
        aa_table[t] = AllocateZeroedSlot(aa_slot_bytes);
        if (aa_table[t] == nullptr) return false;
        bb_table[t] = AllocateZeroedSlot(bb_slot_bytes);
        if (bb_table[t] == nullptr) return false;
    }
    return true;
}

}  // namespace

int TAVREL_AVX_8X4_Init(int n, int bb_extent, int aa_extent, int slots) {
    TAVREL_AVX_8X4_Free();
    slot_count = slots;
    const std::int64_t aa_count = ElementCount(n, aa_extent);
    const std::int64_t bb_count = ElementCount(n, bb_extent);
    if (slots < 0 || slots > kMaxSlots || aa_count < 0 || bb_count < 0) {
        DropAllKept();
        return 0;
    }
    aa_slot_bytes = SlotBytes(aa_count);
    bb_slot_bytes = SlotBytes(bb_count);
    // What the new slots cannot reuse goes back first, so that memory is
    // never held twice.
    TrimKept(SlotFootprint(aa_slot_bytes), SlotFootprint(bb_slot_bytes), slots);
    const bool ready = FitsPhysicalMemory(slots) && AllocateSlots(slots);
    if (!ready) TAVREL_AVX_8X4_Free();
    DropAllKept();
    return ready ? 1 : 0;
}

void TAVREL_AVX_8X4_Free() {
    // Tables are allocated with at least slot_count entries; a negative count
    // never leaves a table behind.
    ReleaseTable(aa_table, slot_count, aa_slot_bytes);
    ReleaseTable(bb_table, slot_count, bb_slot_bytes);
}

long long TAVREL_AVX_8X4_KeptBytes() { return static_cast<long long>(kept_bytes); }

void TAVREL_AVX_8X4_Release() { DropAllKept(); }

double* tavrel8x4::BbSlot(int slot) {
    if (bb_table == nullptr || slot < 0 || slot >= slot_count) return nullptr;
    return bb_table[slot];
}

double** TAVREL_AVX_8X4_GET_AA() { return aa_table; }

double** TAVREL_AVX_8X4_GET_BB() { return bb_table; }

double* TAVREL_AVX_8X4_GET_CC() { return cc_buffer; }

int TAVREL_AVX_8X4_CompCwithCC(double* c, int cols, int rows) {
    if (cc_buffer == nullptr) return 0;  // nothing to compare against: no match claimed
    if (cols <= 0 || rows <= 0) return 1;
    return tavrel8x4::MatchesRelative(c, cc_buffer, std::int64_t{rows} * cols);
}

int isAVXenable() { return cpu_probe::RunsAvx(cpu_probe::Read()) ? 1 : 0; }

void pusto() {}
