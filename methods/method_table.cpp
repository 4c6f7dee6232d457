#include "method_table.h"

#include "methods.h"

namespace {
// Classic and BlockPack2x2 never give up.
bool Classic(const MethodOperands& o) {
    MultClassic(o.n, o.a, o.b, o.c);
    return true;
}

bool Hp(const MethodOperands& o) {
    return MultHP(o.n, o.threads, o.chunk, o.parallel_kind, o.a, o.b, o.c);
}

bool BlockCache(const MethodOperands& o) {
    return MultBlockCache(o.n, o.l_block, o.threads, o.parallel_kind, o.a, o.b, o.c);
}

// Column by column from index 1, each matrix with n as its leading dimension.
bool BlockPack2x2(const MethodOperands& o) {
    MultBlockPack_2x2(o.n, o.n, o.n, o.l_block, o.a + 1, o.b + 1, o.c + 1, o.scratch_rows);
    return true;
}

bool VectorPack(const MethodOperands& o) {
    return MultVectorPack(o.n, o.l_block, o.threads, o.parallel_kind, o.a, o.b, o.c, o.isa_level);
}

using L = MatrixLayout;
const MethodEntry kTable[kMethodTableSize] = {
    {kMethodClassic, "classic", "Classic", false, false, false, L::OffsetRows, "scalar r-c-k loop",
     Classic},
    {kMethodHp, "hp", "HP", true, false, false, L::OffsetRows, "scalar r-k-c loop", Hp},
    {kMethodBlockCache, "block-cache", "Block_cache(ib,kb,jb::i,k,j)", true, true, false,
     L::OffsetRows, "scalar cache blocks", BlockCache},
    {kMethodBlockPack2x2, "block-pack-2x2", "Block_cache, registers (2x2), pack (BLAS 1989)", false,
     true, true, L::OffsetColumns, "scalar 2x2 registers", BlockPack2x2},
    {kMethodVectorPack, "vector-pack",
     "Block_cache (kb, jb=1, ib), block registers, vectorization AVX, pack A, B (tuned-library "
     "style)",
     true, true, false, L::Vector, "", VectorPack},
};
}  // namespace

const MethodEntry* MethodTable() { return kTable; }

const MethodEntry* FindMethod(std::int32_t method) {
    if (method < 0 || static_cast<std::size_t>(method) >= kMethodTableSize) return nullptr;
    return &kTable[method];
}
