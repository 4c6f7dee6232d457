#!/usr/bin/env bash
# The speed summary of Vorp on this machine, in one command:
#   scripts/bench.sh [build-dir]        (default build/release, built if needed)
# Prints, at n 1936 (l_block 176) with 1 and 2 threads, the best and median
# GFLOPS of methods 0 to 4 and of OpenBLAS dgemm, each method's ratio to
# OpenBLAS (medians), and its share of the measured multiply + add peaks;
# then the kernel benchmark (both forms of the 13-argument kernel and the
# peak loops). OpenBLAS runs with its own choice of kernel: OPENBLAS_CORETYPE
# and OPENBLAS_L2_SIZE are unset for the benchmark processes only.
# The runs are taken in rounds (7 by default, BENCH_ROUNDS to change): each
# round runs the peak loops, the kernel, method 4, OpenBLAS and method 3 once,
# so that on a machine whose speed drifts (a shared host) every row meets the
# same quiet and busy spells. The shares of the peaks compare best with best.
# Methods 0 to 2 run 3 times after the rounds (Classic takes seconds per
# product). Last, scripts/bench-cli.sh measures what users get at n 1936
# (BENCH_SIZES to change): vorp-cli processes for method 4 alternating with
# OpenBLAS and BLIS. Takes about six to eight minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [[ ! -f $build/build.ninja && ! -f $build/Makefile ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target kernel_bench methods_bench vector_pack_bench >/dev/null
bin=$build/bin
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

rounds=${BENCH_ROUNDS:-7}

run() {  # run <csv-name> <repetitions> <program> [args...]: appends individual runs as CSV
  local name=$1 reps=$2
  shift 2
  env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$@" --benchmark_format=csv \
    --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=false \
    2>/dev/null | grep -v -E '_(mean|median|stddev|cv)",' >>"$out/$name.csv"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min); $(nproc) CPUs"
for ((round = 1; round <= rounds; round++)); do
  echo "round $round of $rounds: peak loops, kernel, method 4, OpenBLAS dgemm, method 3 ..."
  run kernel 1 "$bin/kernel_bench" --benchmark_filter='Kernel8x4x16$|MulAddPeak$'
  run kernel_avx 1 env TAVREL_8X4_FORM=avx "$bin/kernel_bench" --benchmark_filter='Kernel8x4x16$'
  run vector_pack 1 "$bin/vector_pack_bench" --benchmark_filter='^BM_(VectorPack|OpenBlasDgemm)/'
  run method3 1 "$bin/methods_bench" --benchmark_filter='method:3/'
done
echo "running the paired shares ..."
share() {  # share <program> [args...]: appends the result lines of paired-share benchmarks
  env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$@" 2>/dev/null | grep -E '^BM_.*share_best' >>"$out/shares.txt" || true
}
share env TAVREL_8X4_FORM=avx "$bin/kernel_bench" --benchmark_filter='ShareOfAvxPeak'
share "$bin/kernel_bench" --benchmark_filter='ShareOfAvx512Peak'
share "$bin/vector_pack_bench" --benchmark_filter='Share'
echo "running methods 0 to 2 ..."
run methods012 3 "$bin/methods_bench" \
  --benchmark_filter='method:0/threads:1|method:1/|method:2/' --benchmark_min_time=0.01
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

# Every run as "<file>:<benchmark> GFLOPS" (the GFLOPS counter is the last
# CSV column; the OpenBLAS rows carry its kernel name as their label).
for file in "$out"/*.csv; do
  tag=$(basename "$file" .csv)
  awk -F, -v tag="$tag" '/^"BM_/ { name = $1; gsub(/"/, "", name); sub(/\/real_time$/, "", name)
    if ($NF + 0 > 0) print tag ":" name, $NF + 0, $(NF - 3) }' "$file"
done | awk '
  { n[$1]++; v[$1, n[$1]] = $2; if ($1 ~ /OpenBlas/) corename = $3 }
  function sorted(name,   i, j, t, m) {
    m = n[name]
    for (i = 1; i <= m; i++) s[i] = v[name, i]
    for (i = 2; i <= m; i++) { t = s[i]; for (j = i - 1; j >= 1 && s[j] > t; j--) s[j + 1] = s[j]; s[j + 1] = t }
    return m
  }
  function best(name,   m) { m = sorted(name); return s[m] }
  function share(x, peak) { return peak > 0 ? sprintf("%7.0f%%", 100 * x / peak) : "     n/a" }
  function median(name,   m) { m = sorted(name); return m % 2 ? s[(m + 1) / 2] : (s[m / 2] + s[m / 2 + 1]) / 2 }
  END {
    p128 = best("kernel:BM_Sse2MulAddPeak"); p256 = best("kernel:BM_AvxMulAddPeak")
    p512 = best("kernel:BM_Avx512MulAddPeak")
    printf "\nPeaks of separate multiply + add on one thread (best of %d runs, GFLOPS per CPU second):\n", n["kernel:BM_AvxMulAddPeak"]
    printf "  128-bit %.1f   256-bit %.1f   512-bit %s   (2 threads: twice these)\n", p128, p256, \
      (p512 > 0 ? sprintf("%.1f", p512) : "n/a (no AVX-512)")
    gsub(/"/, "", corename)
    printf "OpenBLAS kernel: %s\n\n", corename
    print "Shares of the peaks: best run against the best peak run; /BLAS: medians."
    printf "%-32s %3s %4s %7s %7s %6s %8s %8s %8s\n", "n 1936, l_block 176, GFLOPS", "thr", "runs", "best", "median", "/BLAS", "%peak128", "%peak256", "%peak512"
    split("0 1 2 3 4sse 4avx blas", rows, " ")
    label["0"] = "0 Classic"; label["1"] = "1 HP"; label["2"] = "2 Block_cache"
    label["3"] = "3 Block_cache 2x2 pack"; label["4sse"] = "4 vector-pack --isa sse2"
    label["4avx"] = "4 vector-pack (auto: AVX path)"; label["blas"] = "OpenBLAS dgemm"
    for (t = 1; t <= 2; t++) {
      blas = median("vector_pack:BM_OpenBlasDgemm/threads:" t)
      for (r = 1; r <= 7; r++) {
        key = rows[r]
        if ((key == "0" || key == "3") && t == 2) continue  # one thread only
        if (key == "blas") name = "vector_pack:BM_OpenBlasDgemm/threads:" t
        else if (key == "4sse") name = "vector_pack:BM_VectorPack/threads:" t "/isa:0"
        else if (key == "4avx") name = "vector_pack:BM_VectorPack/threads:" t "/isa:2"
        else name = (key == "3" ? "method3" : "methods012") ":BM_Method/method:" key "/threads:" t
        if (!(name in n)) continue
        b = best(name); m = median(name)
        printf "%-32s %3d %4d %7.1f %7.1f %6.2f %8s %8s %8s\n", label[key], t, n[name], b, m, \
          m / blas, share(b, t * p128), share(b, t * p256), share(b, t * p512)
      }
      print ""
    }
    print "Kernel tavrel_AVX_8x4x16_AMD at M 192, N 1936, K 176 (the rows of one call of method 4), one thread (GFLOPS per CPU second):"
    k = "kernel:BM_Kernel8x4x16"; a = "kernel_avx:BM_Kernel8x4x16"
    if (p512 > 0)
      printf "  form chosen at load        best %6.1f  median %6.1f  best = %3.0f%% of the 512-bit peak\n", best(k), median(k), 100 * best(k) / p512
    else
      printf "  form chosen at load (AVX: no AVX-512 here) best %6.1f  median %6.1f\n", best(k), median(k)
    printf "  AVX form (TAVREL_8X4_FORM=avx) best %6.1f  median %6.1f  best = %3.0f%% of the 256-bit peak\n", best(a), median(a), 100 * best(a) / p256
    s1 = "vector_pack:BM_VectorPack/threads:1/isa:0"
    printf "SSE2 path of method 4, one thread: best %.1f  median %.1f  best = %.0f%% of the 128-bit peak\n", best(s1), median(s1), 100 * best(s1) / p128
  }'

echo
echo "Paired shares (the work and its reference in alternating samples, so both meet the"
echo "same quiet and busy spells; best against best and the median of the pairs' ratios):"
awk '
  function counter(name,   r) { r = ""; if (match($0, name "=[0-9.]+")) r = substr($0, RSTART + length(name) + 1, RLENGTH - length(name) - 1); return r + 0 }
  {
    bar = 0
    if ($1 ~ /KernelShareOfAvxPeak/) { what = "AVX form of the kernel / 256-bit peak"; bar = 90 }
    else if ($1 ~ /KernelShareOfAvx512Peak/) { what = "AVX-512 form of the kernel / 512-bit peak"; bar = 93 }
    else if ($1 ~ /AvxPathShareOfOpenBlas\/threads:1/) what = "method 4 AVX path / OpenBLAS, 1 thread"
    else if ($1 ~ /AvxPathShareOfOpenBlas\/threads:2/) what = "method 4 AVX path / OpenBLAS, 2 threads"
    else if ($1 ~ /Sse2PathShareOfPeak/) { what = "method 4 SSE2 path / 128-bit peak"; bar = 85 }
    else next
    # Targets for the shares of a peak, judged on the best pair.
    verdict = bar ? sprintf("  target %d%%: %s", bar, counter("share_best") >= bar ? "met" : "short") : ""
    printf "  %-42s best %5.1f%%  median %5.1f%%   (%.1f against %.1f GFLOPS)%s\n", what, counter("share_best"), \
      counter("share_median"), counter(" GFLOPS"), counter("reference_GFLOPS"), verdict
  }' "$out/shares.txt"

echo
scripts_dir=$(dirname "$0")
BENCH_BUILD="$build" BENCH_SIZES=${BENCH_SIZES:-1936} "$scripts_dir/bench-cli.sh"
