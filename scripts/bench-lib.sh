# Helpers of the vorp-cli benchmark scripts (sourced, not run).
#   gflops ROW [ENV=VALUE ...] -- VORP-CLI ARGS: the GFLOPS of that row of one
#   vorp-cli process, the best sample with BENCH_MODE=warm (--warmup 1
#   --repeat 3: an uncounted first call, then the best of three), the single
#   cold product otherwise. OpenBLAS runs with its own kernel choice
#   (OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE unset) unless ENV sets them.
#   peer_gflops (below): a peer's GFLOPS, warm or cold alike.
#   blis_arch NAME: the BLIS_ARCH_TYPE that selects BLIS's configuration NAME.
#   stats FILE: per key (all words but the last of a line) the count, best,
#   median and the values, from lines "KEY... VALUE".
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BENCH_BUILD:-$root/build/release}
cli=$build/bin/vorp-cli
mode=${BENCH_MODE:-cold}
targets=(vorp-cli)
[[ $mode == cold ]] && targets+=(first_call)
if [[ ! -f $build/build.ninja && ! -f $build/Makefile ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
case $mode in
  warm) mode_args=(--warmup 1 --repeat 3) column=best_gflops ;;
  cold) mode_args=(--warmup 0 --repeat 1) column=median_gflops ;;
  *) echo "BENCH_MODE is warm or cold" >&2; exit 2 ;;
esac

gflops() {
  local row=$1 envs=()
  shift
  while [[ $1 != -- ]]; do envs+=("$1"); shift; done
  shift
  env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "${envs[@]}" "$cli" --format csv --min-time 0 \
    "${mode_args[@]}" "$@" 2>/dev/null |
    awk -F, -v row="$row" -v column="$column" '/^#/ { next }
      !head { for (i = 1; i <= NF; i++) col[$i] = i; head = 1; next }
      $col["method"] == row && !done { v = $col[column]; print (v == "" ? 0 : v); done = 1 }
      END { if (!done) print 0 }'
}

# peer_gflops openblas|blis [ENV=VALUE ...] -- N THREADS: a peer's dgemm on
# the same prepared matrices; cold, the first call of a process of its own
# (bench/first_call), since vorp-cli runs its reference rows after the
# methods in the same process.
peer_gflops() {
  local lib=$1 envs=()
  shift
  while [[ $1 != -- ]]; do envs+=("$1"); shift; done
  shift
  if [[ $mode == cold ]]; then
    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "${envs[@]}" "$build/bin/first_call" "$lib" "$1" "$2" 2>/dev/null || echo 0
  else
    local flag=--reference
    [[ $lib == blis ]] && flag=--reference=blis
    gflops "$lib" "${envs[@]}" -- --method 4 -n "$1" --threads "$2" "$flag"
  fi
}

blis_arch() {
  local id
  for id in $(seq 0 40); do
    if [[ $(BLIS_ARCH_TYPE=$id "$cli" --method 1 -n 8 --reference=blis --format csv --min-time 0 2>/dev/null) == *"BLIS dgemm ($1)"* ]]; then
      echo "$id"
      return
    fi
  done
}

# Awk functions for the scripts' summaries: sort_into(m) sorts s[1..m];
# median_of(m) sorts them and gives their median.
awk_lib='
  function sort_into(m,   i, j, t) { for (i = 2; i <= m; i++) { t = s[i]; for (j = i - 1; j >= 1 && s[j] > t; j--) s[j + 1] = s[j]; s[j + 1] = t } }
  function median_of(m) { sort_into(m); return m % 2 ? s[(m + 1) / 2] : (s[m / 2] + s[m / 2 + 1]) / 2 }
'

stats() {
  awk "$awk_lib"'{ key = $1; for (i = 2; i < NF; i++) key = key " " $i
         if (!(key in n)) order[++keys] = key
         v[key, ++n[key]] = $NF }
    END { for (k = 1; k <= keys; k++) { key = order[k]; m = n[key]
            for (i = 1; i <= m; i++) s[i] = v[key, i]
            printf "%s %d %.4g %.4g\n", key, m, (m ? max_of(m) : 0), median_of(m) } }
    function max_of(m,   i, b) { b = s[1]; for (i = 2; i <= m; i++) if (s[i] > b) b = s[i]; return b }' "$1"
}
