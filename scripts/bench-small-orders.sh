#!/usr/bin/env bash
# Whether a small order's figure is the kernel's and nothing incidental: the
# same product (--warmup 3 --repeat 20, the median sample) in fresh vorp-cli
# processes that differ only in what should not matter: the size of the
# environment (an unused variable of 1000 characters), an equivalent option
# list (--isa auto --chunk 100 --l-block 176 spelled out), and glibc's heap
# trimming switched off (GLIBC_TUNABLES; the run fixes glibc's thresholds
# itself at its first call, so this shows that the tunables no longer reach
# the figure), in alternating rounds. Each variant's median over the rounds
# against the plain run's; target: within 10 %.
#   scripts/bench-small-orders.sh
# BENCH_ROUNDS (default 5), BENCH_SIZES (default "176 352"), BENCH_METHODS
# (default "4 3"), BENCH_BUILD.
set -euo pipefail
BENCH_MODE=warm
source "$(dirname "$0")/bench-lib.sh"
mode_args=(--warmup 3 --repeat 20) column=median_gflops
rounds=${BENCH_ROUNDS:-5}
sizes=${BENCH_SIZES:-176 352}
methods=${BENCH_METHODS:-4 3}
filler=$(printf '%1000s' '' | tr ' ' x)
no_trim=glibc.malloc.trim_threshold=1073741824:glibc.malloc.mmap_threshold=1073741824
row_of() { [[ $1 == 4 ]] && echo vector-pack || echo block-pack-2x2; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT

for n in $sizes; do
  for m in $methods; do
    row=$(row_of "$m")
    for ((r = 1; r <= rounds; r++)); do
      echo "$n $m plain $(gflops "$row" -- --method "$m" -n "$n")"
      echo "$n $m environment+1000 $(gflops "$row" VORP_UNUSED_FILLER="$filler" -- --method "$m" -n "$n")"
      echo "$n $m options-spelled-out $(gflops "$row" -- --isa auto --chunk 100 --l-block 176 --method "$m" -n "$n")"
      echo "$n $m heap-never-trimmed $(gflops "$row" GLIBC_TUNABLES="$no_trim" -- --method "$m" -n "$n")"
    done
  done
done >"$out"

echo "median GFLOPS over $rounds rounds (each the median of 20 samples after 3 uncounted runs)"
stats "$out" | awk '{ key = $1 " " $2; if ($3 == "plain") plain[key] = $6
    printf "  n %5s method %s %-20s %7.1f  (best round %.1f)  %s\n", $1, $2, $3, $6, $5,
      ($3 == "plain" || plain[key] <= 0) ? "" : sprintf("%.3f of plain: %s", $6 / plain[key], ($6 / plain[key] >= 0.9 && $6 / plain[key] <= 1.1) ? "within 10 %" : "OUTSIDE 10 %") }'
