// The values of one benchmark run, their defaults and the rules the run
// applies to them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum Method : std::int32_t {
    kMethodClassic = 0,
    kMethodHp = 1,
    kMethodBlockCache = 2,
    kMethodBlockPack2x2 = 3,
    kMethodVectorPack = 4,
};

enum ParallelKind : std::int32_t { kParallelOpenMp = 0, kParallelTbb = 1 };

// The widest instruction set method 4 may use. Auto is the widest the
// processor and the libraries run; Avx and Avx2 keep Tavrel_8x4 on its
// 256-bit form; Avx512 asks for its 512-bit form.
enum class VectorIsaCap { Auto, Sse2, Avx, Avx2, Avx512 };

struct RunParameters {
    std::int32_t method = kMethodClassic;
    std::int32_t n = 2000;
    std::int32_t l_block = 176;
    std::int32_t threads = 1;
    std::uint32_t chunk = 100;
    std::int32_t parallel_kind = kParallelOpenMp;
    bool check = false;
    VectorIsaCap isa_cap = VectorIsaCap::Auto;  // method 4's path is decided from it once per run
};

// Accepted ranges. n*n+2 must fit a 32-bit signed count.
constexpr std::int32_t kMinOrder = 1;
constexpr std::int32_t kMaxOrder = 46340;
constexpr std::int32_t kMinBlock = 4;
constexpr std::int32_t kMinThreads = 1;
constexpr std::int32_t kMaxThreads = 128;
constexpr std::int32_t kMethodCount = 5;

// Why the run cannot be performed with these values (n, l_block, threads
// above 128 or method out of range), or nothing when it can. Threads below 1
// are run as 1 (Normalised).
std::optional<std::string> ParameterProblem(const RunParameters& params);

// The values a run of `params` uses, for parameters ParameterProblem accepts:
// l_block loses its remainder modulo 4 and is lowered to n; then n loses its
// remainder modulo l_block (n 2000, l_block 176 give n 1936). Threads below 1
// become 1, and chunk is lowered to n / threads (never raised: a front end
// that keeps what a run used keeps the lowered chunk). The other fields stay.
// The run computes this once and returns it (RunResult::parameters).
RunParameters Normalised(RunParameters params);
