#!/usr/bin/env bash
# Work that grows with the threads, shown on a small machine: the same
# product with 2, 16 and 64 threads on the machine's cores (more threads than
# cores, OMP_WAIT_POLICY=passive so that waiting threads sleep), warm (an
# uncounted first call, then the best of three), in alternating rounds. The
# arithmetic is the same at every thread count, so what the time per product
# gains over 2 threads is duplicated work and synchronisation. OpenBLAS on
# the same test for comparison.
#   scripts/bench-oversubscribed.sh
# BENCH_ROUNDS (default 5), BENCH_SIZES (default "1936 4048"), BENCH_BUILD.
# Targets for method 4: at most 1.15 times the 2-thread time at 16 threads
# and 1.3 at 64.
set -euo pipefail
BENCH_MODE=warm
source "$(dirname "$0")/bench-lib.sh"
rounds=${BENCH_ROUNDS:-5}
sizes=${BENCH_SIZES:-1936 4048}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

echo "$(nproc) cores, OMP_WAIT_POLICY=passive, warm (best of 3 after one uncounted call), $rounds alternating rounds"
for n in $sizes; do
  for ((r = 1; r <= rounds; r++)); do
    for t in 2 16 64; do
      a=(--method 4 -n "$n" --threads "$t")
      echo "$n $r m4 $t $(gflops vector-pack OMP_WAIT_POLICY=passive -- "${a[@]}")"
      echo "$n $r openblas $t $(peer_gflops openblas OMP_WAIT_POLICY=passive -- "$n" "$t")"
    done
  done
done >"$out"

awk "$awk_lib"'
  { v[$1, $3, $4, $2] = $5; rounds = $2 > rounds ? $2 : rounds; if (!($1 in seen)) { seen[$1] = 1; order[++sizes] = $1 } }
  function best(z, w, t,   r, b) { b = 0; for (r = 1; r <= rounds; r++) if (v[z, w, t, r] > b) b = v[z, w, t, r]; return b }
  # Time per product at t threads over the 2-thread time: GFLOPS at 2 over GFLOPS at t.
  function slowdown(z, w, t,   r) {
    for (r = 1; r <= rounds; r++) s[r] = v[z, w, t, r] > 0 ? v[z, w, 2, r] / v[z, w, t, r] : 0
    return median_of(rounds)
  }
  END {
    printf "\n%5s %-9s | %21s | %s\n", "n", "", "best GFLOPS 2/16/64", "time per product against 2 threads (best; median of rounds)"
    for (i = 1; i <= sizes; i++) {
      z = order[i]
      for (w = 1; w <= 2; w++) {
        what = w == 1 ? "m4" : "openblas"
        a = best(z, what, 16) > 0 ? best(z, what, 2) / best(z, what, 16) : 0
        b = best(z, what, 64) > 0 ? best(z, what, 2) / best(z, what, 64) : 0
        printf "%5s %-9s | %6.1f %6.1f %6.1f | 16: %.2f (%.2f)  64: %.2f (%.2f)", z, what == "m4" ? "method 4" : "OpenBLAS",
          best(z, what, 2), best(z, what, 16), best(z, what, 64), a, slowdown(z, what, 16), b, slowdown(z, what, 64)
        if (what == "m4") printf "  targets 1.15 / 1.3: %s", (a <= 1.15 && b <= 1.3) ? "met" : "short"
        printf "\n"
      }
    }
  }' "$out"
