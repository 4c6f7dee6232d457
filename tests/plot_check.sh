#!/usr/bin/env bash
# plot_check.sh PLOT_SCRIPT
# Runs scripts/plot on a small CSV in the format with context lines and the
# noisy column (two thread counts, a noisy point, a point without a figure,
# quoted fields) and on broken inputs, and checks the exit statuses; then on
# a CSV whose context holds the machine's limits, and checks in the gnuplot
# commands that the GFLOPS limits are drawn as labelled lines and the GB/s
# ones listed under the title.
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

# holds DESCRIPTION TEXT: the kept gnuplot commands hold TEXT (a fixed string).
holds() {
  grep -qF -- "$2" "$work/plot.gp" ||
    { echo "FAIL $1: the gnuplot commands lack: $2"; failures=$((failures + 1)); }
}
# lacks DESCRIPTION TEXT: they do not hold TEXT.
lacks() {
  ! grep -qF -- "$2" "$work/plot.gp" ||
    { echo "FAIL $1: the gnuplot commands hold: $2"; failures=$((failures + 1)); }
}

cat >"$work/limits.csv" <<'EOF'
# program: vorp-cli
# cpu: Some CPU
# limit: 512-bit mul+add peak, 2 threads: 251.3 GFLOPS
# limit: 256-bit FMA peak, 1 thread: 68.25 GFLOPS
# limit: triad bandwidth, 1 thread: 19.8 GB/s
# limit: triad bandwidth, 2 threads: 35.2 GB/s
# limit: odd: label, 1 thread: 1e2 GFLOPS
# limit: no figure here
# cores: 2
threads,method,n,best_gflops,median_gflops,noisy,short,problems
1,vector-pack,200,80,78,false,false,
2,vector-pack,200,150,120,false,false,
EOF
what="limits in the context"
rm -f "$work/plot.gp"
drawn "$what" --peak 300:"by hand" --gnuplot-script "$work/plot.gp" "$work/limits.csv" "$work/out.png"
grep -qF "left out the context line '# limit: no figure here'" "$work/out" ||
  { echo "FAIL $what: no warning about the limit line without a figure"; failures=$((failures + 1)); }
if [[ -f "$work/plot.gp" ]]; then
  holds "$what" "set arrow from graph 0, first 251.3 to graph 1, first 251.3 nohead"
  holds "$what" "set label '512-bit mul+add peak, 2 threads: 251.3 GFLOPS' at"
  holds "$what" "set arrow from graph 0, first 68.25 to graph 1, first 68.25 nohead"
  holds "$what" "set label '256-bit FMA peak, 1 thread: 68.25 GFLOPS' at"
  holds "$what" "set label 'odd: label, 1 thread: 1e2 GFLOPS' at"
  holds "$what" "set label 'by hand' at"
  # From the lowest up, left and right in turn: 68.25, 1e2, 251.3, 300.
  holds "$what" "at graph 0.01, first 68.25 left"
  holds "$what" "at graph 0.99, first 1e2 right"
  holds "$what" "at graph 0.01, first 251.3 left"
  holds "$what" "at graph 0.99, first 300 right"
  holds "$what" "set yrange [0:330<*]"
  holds "$what" "set title 'Vorp on Some CPU (2 cores)'.\"\\n\".'triad bandwidth, 1 thread: 19.8 GB/s; triad bandwidth, 2 threads: 35.2 GB/s'"
  lacks "$what" "first 19.8"
  lacks "$what" "first 35.2"
  lacks "$what" "no figure here"
else
  echo "FAIL $what: --gnuplot-script wrote no file"; failures=$((failures + 1))
fi

# Peaks within 5 % of each other share one line; of the fused peaks only the
# widest is drawn.
cat >"$work/close.csv" <<'EOF2'
# cpu: Some CPU
# limit: 512-bit mul+add peak, 1 thread: 131.6 GFLOPS
# limit: 512-bit FMA peak, 1 thread: 129.5 GFLOPS
# limit: 256-bit mul+add peak, 2 threads: 131.9 GFLOPS
# limit: 256-bit FMA peak, 2 threads: 131.1 GFLOPS
# limit: 128-bit mul+add peak, 1 thread: 33.3 GFLOPS
threads,method,n,best_gflops,median_gflops,noisy,short,problems
1,vector-pack,200,80,78,false,false,
EOF2
what="close limits"
rm -f "$work/plot.gp"
drawn "$what" --gnuplot-script "$work/plot.gp" "$work/close.csv" "$work/out.png"
if [[ -f "$work/plot.gp" ]]; then
  holds "$what" "set label '512-bit FMA x1 / 512-bit mul+add x1 / 256-bit mul+add x2: 129.5-131.9 GFLOPS' at"
  holds "$what" "set label '128-bit mul+add peak, 1 thread: 33.3 GFLOPS' at"
  lacks "$what" "256-bit FMA"
  [[ $(grep -c "set arrow" "$work/plot.gp") == 2 ]] ||
    { echo "FAIL $what: not two lines"; failures=$((failures + 1)); }
else
  echo "FAIL $what: --gnuplot-script wrote no file"; failures=$((failures + 1))
fi
expect 2 "--gnuplot-script without a file" "$work/limits.csv" "$work/out.png" --gnuplot-script

[[ $failures -eq 0 ]] && echo "plot script: all checks passed"
exit $((failures > 0))
