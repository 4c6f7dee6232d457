#!/usr/bin/env bash
# plot_check.sh PLOT_SCRIPT
# Runs scripts/plot on a small CSV in the format with context lines and the
# noisy column (two thread counts, a noisy point, a point without a figure,
# quoted fields) and on broken inputs, and checks the exit statuses.
# Exits 77 (skipped) without gnuplot.
set -uo pipefail
plot=$1
command -v gnuplot >/dev/null || { echo "gnuplot is not installed; skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect STATUS DESCRIPTION ARGS...: runs the script with ARGS.
expect() {
  local want=$1 what=$2 got=0
  shift 2
  "$plot" "$@" >"$work/out" 2>&1 || got=$?
  if [[ $got -ne $want ]]; then
    echo "FAIL $what: exit $got, expected $want"; sed 's/^/  /' "$work/out"; failures=$((failures + 1))
  fi
}
# drawn DESCRIPTION ARGS...: the script succeeds and writes a PNG.
drawn() {
  local what=$1
  shift
  rm -f "$work/out.png"
  expect 0 "$what" "$@"
  [[ $(head -c 4 "$work/out.png" 2>/dev/null | od -An -c | tr -d ' ') == '211PNG' ]] ||
    { echo "FAIL $what: no PNG written"; failures=$((failures + 1)); }
}

cat >"$work/sweep.csv" <<'EOF'
# program: vorp-cli
# cpu: Some "Quoted" CPU @ 3.0GHz
# cores: 2
threads,method,n,best_gflops,median_gflops,noisy,short,problems
1,classic,200,2.5,2.4,false,false,
1,vector-pack,200,80,78,false,false,
2,vector-pack,200,150,120,true,false,"stddev 12 %, ""noisy"""
1,vector-pack,400,90,89,false,false,
2,vector-pack,400,170,168,false,false,
1,openblas,200,,,false,true,"shorter than
one tick"
2,mystery-method,400,30,29,false,false,
EOF
drawn "new format" "$work/sweep.csv" "$work/out.png"
drawn "--best, two peaks, own title" --best --peak 200:"512-bit peak: FMA" --peak=64 \
  "$work/sweep.csv" "$work/out.png" "It's a title"
printf 'method,n,threads,best_gflops,median_gflops\r\nhp,100,1,5,4\r\n' >"$work/old.csv"
drawn "old header, CRLF" "$work/old.csv" "$work/out.png"

expect 2 "no arguments"
expect 2 "unknown option" --worst "$work/sweep.csv" "$work/out.png"
expect 2 "peak without a number" --peak fast "$work/sweep.csv" "$work/out.png"
expect 2 "unreadable CSV" "$work/none.csv" "$work/out.png"
printf 'a,b\n1,2\n' >"$work/other.csv"
expect 4 "foreign CSV" "$work/other.csv" "$work/out.png"
printf 'method,n,best_gflops\nhp,100,5\n' >"$work/best-only.csv"
expect 4 "median column missing" "$work/best-only.csv" "$work/out.png"
drawn "--best with the best column only" --best "$work/best-only.csv" "$work/out.png"
printf '# cpu: x\nmethod,n,median_gflops\nhp,100,\n' >"$work/empty.csv"
expect 5 "no figure" "$work/empty.csv" "$work/out.png"

[[ $failures -eq 0 ]] && echo "plot script: all checks passed"
exit $((failures > 0))
