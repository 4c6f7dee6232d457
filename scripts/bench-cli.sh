#!/usr/bin/env bash
# What users get: method 4 in vorp-cli processes, as users run it, in
# alternating rounds with the best peers on equally prepared matrices, at
# 1 and 2 threads:
#   - the form chosen at load against OpenBLAS with its own kernel choice
#     and BLIS in the widest configuration this processor runs;
#   - --isa avx2 (the 256-bit form) against OpenBLAS's Haswell kernel and
#     BLIS's haswell configuration;
#   - --isa sse2 (the SSE2 path) against OpenBLAS's SSE kernel (Nehalem).
#   scripts/bench-cli.sh
# BENCH_MODE=cold (default; one product per process, the first call, the
# peers' in bench/first_call) or warm (--warmup 1 --repeat 3, the best
# sample); BENCH_ROUNDS (default 5);
# BENCH_SIZES (default "176 352 880 1936 4048"); BENCH_BUILD (default
# build/release). Prints per order and thread count the best and median
# GFLOPS and method 4's ratio to the faster peer (best against best, and
# the median of the rounds' ratios) with its target: at least the faster
# peer from n 880 on, 0.9 of it below, 0.95 for the narrower forms; then
# method 4's scaling from 1 to 2 threads (target 1.8).
set -euo pipefail
source "$(dirname "$0")/bench-lib.sh"
rounds=${BENCH_ROUNDS:-5}
sizes=${BENCH_SIZES:-176 352 880 1936 4048}
haswell=$(blis_arch haswell)
out=$(mktemp)
trap 'rm -f "$out"' EXIT

m4_kernel=$("$cli" --method 4 -n 64 --format csv --min-time 0 2>/dev/null | awk -F, '/^vector-pack,/ { print $8 }')
echo "vorp-cli processes ($mode), $rounds alternating rounds; method 4: $m4_kernel"
for n in $sizes; do
  for t in 1 2; do
    for ((r = 1; r <= rounds; r++)); do
      a=(--method 4 -n "$n" --threads "$t")
      echo "$n $t $r m4 $(gflops vector-pack -- "${a[@]}")"
      echo "$n $t $r openblas $(peer_gflops openblas -- "$n" "$t")"
      echo "$n $t $r blis $(peer_gflops blis -- "$n" "$t")"
      echo "$n $t $r avx2 $(gflops vector-pack -- "${a[@]}" --isa avx2)"
      echo "$n $t $r openblas-haswell $(peer_gflops openblas OPENBLAS_CORETYPE=Haswell -- "$n" "$t")"
      [[ -n $haswell ]] && echo "$n $t $r blis-haswell $(peer_gflops blis BLIS_ARCH_TYPE="$haswell" -- "$n" "$t")"
      echo "$n $t $r sse2 $(gflops vector-pack -- "${a[@]}" --isa sse2)"
      echo "$n $t $r openblas-nehalem $(peer_gflops openblas OPENBLAS_CORETYPE=Nehalem -- "$n" "$t")"
    done
  done
done >"$out"

awk "$awk_lib"'
  { key = $1 " " $2 " " $4; if (!((key) in n)) n[key] = 0; n[key]++; v[key, $3] = $5; rounds = $3 > rounds ? $3 : rounds
    if (!($1 in seen)) { seen[$1] = 1; order[++sizes] = $1 } }
  function best(k,   r, b) { b = 0; for (r = 1; r <= rounds; r++) if (v[k, r] > b) b = v[k, r]; return b }
  function median(k,   r) { for (r = 1; r <= rounds; r++) s[r] = v[k, r]; return median_of(rounds) }
  # The median over the rounds of `mine` against the faster of the peers of the same round.
  function ratio(p, mine, peer1, peer2,   r, q) {
    for (r = 1; r <= rounds; r++) {
      q = v[p " " peer1, r]; if (peer2 != "" && v[p " " peer2, r] > q) q = v[p " " peer2, r]
      s[r] = q > 0 ? v[p " " mine, r] / q : 0
    }
    return median_of(rounds)
  }
  function scaling(z, what) { return best(z " 1 " what) > 0 ? best(z " 2 " what) / best(z " 1 " what) : 0 }
  function faster(p, peer1, peer2) { return (peer2 != "" && best(p " " peer2) > best(p " " peer1)) ? best(p " " peer2) : best(p " " peer1) }
  function row(label, p, mine, peer1, peer2, target,   b) {
    b = faster(p, peer1, peer2) > 0 ? best(p " " mine) / faster(p, peer1, peer2) : 0
    printf "  %-22s %6.1f %6.1f | %6.1f %6.1f | %6.1f %6.1f | %6.3f %6.3f  %.2f: %s\n", label,
      best(p " " mine), median(p " " mine), best(p " " peer1), median(p " " peer1),
      (peer2 == "" ? 0 : best(p " " peer2)), (peer2 == "" ? 0 : median(p " " peer2)), b, ratio(p, mine, peer1, peer2),
      target, (b >= target ? "met" : "short")
  }
  END {
    printf "\n%-24s %13s | %13s | %13s | %s\n", "n thr  form", "method 4", "OpenBLAS", "BLIS", "method 4 / faster peer"
    printf "%-24s %6s %6s | %6s %6s | %6s %6s | %6s %6s  %s\n", "", "best", "median", "best", "median", "best", "median", "best", "rounds", "target (best)"
    for (i = 1; i <= sizes; i++) for (t = 1; t <= 2; t++) {
      z = order[i]; p = z " " t
      printf "%5s %d\n", z, t
      row("chosen at load", p, "m4", "openblas", "blis", (z >= 880 ? 1.0 : 0.9))
      row("--isa avx2 (Haswell)", p, "avx2", "openblas-haswell", ((p " blis-haswell") in n ? "blis-haswell" : ""), 0.95)
      row("--isa sse2 (Nehalem)", p, "sse2", "openblas-nehalem", "", 0.95)
    }
    print "\nMethod 4 with 2 threads against 1 thread (best against best; target 1.8):"
    for (i = 1; i <= sizes; i++) {
      z = order[i]
      printf "  n %5s: chosen at load %.2f, --isa avx2 %.2f, --isa sse2 %.2f\n", z, scaling(z, "m4"),
        scaling(z, "avx2"), scaling(z, "sse2")
    }
  }' "$out"
