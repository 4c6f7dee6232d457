// The table of peak loops and which of them this processor runs. Built for
// baseline x86-64: it decides, the width-specific files only run.
#include "peak_loops.h"

#include "processor_info.h"

const std::vector<PeakLoop>& AllPeakLoops() {
    static const std::vector<PeakLoop> loops = {
        {"128-bit mul+add", "RunSse2MulAddLoop", "mulpd + addpd", "SSE2", 128,
         PeakInstructions::kMulAdd, kSse2PeakAccumulators, kSse2PeakFlopsPerIteration,
         RunSse2MulAddLoop},
        {"256-bit mul+add", "RunAvxMulAddLoop", "vmulpd + vaddpd", "AVX", 256,
         PeakInstructions::kMulAdd, kAvxPeakAccumulators, kAvxPeakFlopsPerIteration,
         RunAvxMulAddLoop},
        {"256-bit FMA", "RunAvxFmaLoop", "vfmadd231pd", "AVX+FMA3", 256,
         PeakInstructions::kFusedMulAdd, kAvxFmaPeakAccumulators, kAvxFmaPeakFlopsPerIteration,
         RunAvxFmaLoop},
        {"512-bit mul+add", "RunAvx512MulAddLoop", "vmulpd + vaddpd", "AVX-512F", 512,
         PeakInstructions::kMulAdd, kAvx512PeakAccumulators, kAvx512PeakFlopsPerIteration,
         RunAvx512MulAddLoop},
        {"512-bit FMA", "RunAvx512FmaLoop", "vfmadd231pd", "AVX-512F", 512,
         PeakInstructions::kFusedMulAdd, kAvx512FmaPeakAccumulators,
         kAvx512FmaPeakFlopsPerIteration, RunAvx512FmaLoop},
    };
    return loops;
}

int PeakLoopLanes(const PeakLoop& loop) { return loop.vector_bits / 64; }

bool RunsHere(const PeakLoop& loop) {
    switch (loop.vector_bits) {
        case 128:
            return true;
        // The program's own rule for its FMA path: AVX2 with the AVX state
        // saved (every processor with AVX2 has FMA3).
        case 256:
            return SupportedIsaLevel() >=
                   (loop.kind == PeakInstructions::kFusedMulAdd ? kIsaAvxFma3 : kIsaAvx);
        case 512:
            return TheProcessorInfo().RunsAvx512();
        default:
            return false;
    }
}

std::vector<PeakLoop> PeakLoopsRunHere() {
    std::vector<PeakLoop> here;
    for (const PeakLoop& loop : AllPeakLoops()) {
        if (RunsHere(loop)) here.push_back(loop);
    }
    return here;
}

PeakLoop BitExactCeilingLoop() {
    PeakLoop widest = AllPeakLoops().front();
    for (const PeakLoop& loop : PeakLoopsRunHere()) {
        if (loop.kind == PeakInstructions::kMulAdd && loop.vector_bits > widest.vector_bits) {
            widest = loop;
        }
    }
    return widest;
}
