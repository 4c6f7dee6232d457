#include "run_parameters.h"

std::optional<std::string> ParameterProblem(const RunParameters& params) {
    if (params.method < 0 || params.method >= kMethodCount) {
        return "Invalid parameters: the method must be 0 to 4";
    }
    if (params.n < kMinOrder || params.n > kMaxOrder) {
        return "Invalid parameters: n must be between 1 and 46340";
    }
    if (params.l_block < kMinBlock) {
        return "Invalid parameters: l_block must be at least 4";
    }
    if (params.threads >
        kMaxThreads) {  // the OpenMP runtime ends a process it cannot start them for
        return "Invalid parameters: threads must be between 1 and 128";
    }
    return std::nullopt;
}

namespace {
void NormaliseOrderAndBlock(std::int32_t& n, std::int32_t& l_block) {
    l_block -= l_block % 4;
    if (l_block > n) l_block = n;
    n -= n % l_block;
}

void NormaliseThreading(std::int32_t n, std::int32_t& threads, std::uint32_t& chunk) {
    if (threads < 1) threads = 1;
    const auto rows_per_thread = static_cast<std::uint32_t>(n / threads);
    if (chunk > rows_per_thread) chunk = rows_per_thread;
}
}  // namespace

RunParameters Normalised(RunParameters params) {
    NormaliseOrderAndBlock(params.n, params.l_block);
    NormaliseThreading(params.n, params.threads, params.chunk);
    return params;
}
