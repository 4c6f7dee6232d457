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
// are run as 1 (NormaliseThreading).
std::optional<std::string> ParameterProblem(const RunParameters& params);

// l_block loses its remainder modulo 4 and is lowered to n; then n loses its
// remainder modulo l_block (n 2000, l_block 176 give n 1936).
void NormaliseOrderAndBlock(std::int32_t& n, std::int32_t& l_block);

// threads below 1 become 1; chunk is lowered to n / threads.
void NormaliseThreading(std::int32_t n, std::int32_t& threads, std::uint32_t& chunk);

// The values a run of `params` uses: both normalisations above.
RunParameters Normalised(RunParameters params);

// The write-back after a completed run: n, l_block, threads and chunk of
// `normalised` into `params`; the other fields stay.
void WriteBackNormalised(const RunParameters& normalised, RunParameters& params);
