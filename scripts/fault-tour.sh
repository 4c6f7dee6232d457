#!/usr/bin/env bash
# Throws faults at vorp-cli (bad arguments, memory limits, signals, extreme
# sizes and thread counts) and prints a Markdown table of what happened.
# A case is survived when vorp-cli was not killed by a signal the case did not
# send, printed no crash text, exited with the documented status and left an
# existing --output FILE unchanged (no figure) or complete (a figure).
# Usage: scripts/fault-tour.sh [PATH/TO/vorp-cli]   Exit: 1 if a case was not survived.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=$(realpath -e "${1:-$ROOT/build/release/bin/vorp-cli}" 2>/dev/null) && [[ -x $CLI ]] ||
    { echo "fault-tour: no executable vorp-cli at ${1:-$ROOT/build/release/bin/vorp-cli}" >&2; exit 2; }
W=$(mktemp -d)
OUT=$W/stdout ERR=$W/stderr
BACKGROUND=()
cleanup() {
    local pid
    for pid in "${BACKGROUND[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    drop_cgroup
    rm -rf "$W"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

ROWS=() FAILED=0 STATUS=- REASON=
CRASH_TEXT='AddressSanitizer|runtime error|Segmentation|terminate called|Thread creation failed|core dumped'

now_us() { local t=${EPOCHREALTIME//[.,]/}; echo $((10#$t)); }
first_error() { grep -v '^note:' "$ERR" | head -n1 | sed "s|^vorp-cli: ||; s|$W/||g" | cut -c1-90; }
new_target() { printf 'previous results\n' >"$1"; cp "$1" "$1.orig"; }
unchanged() { cmp -s "$1" "$1.orig"; }
valid_json() { python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$1" 2>/dev/null; }
partials() { compgen -G "$W/*.partial-*" >/dev/null && rm -f "$W"/*.partial-* && echo "; left a FILE.partial-XXXXXX behind"; }

# row KIND WHAT OUTCOME [failed]: one table line; its status column is STATUS.
row() {
    local what=${2//|/\\|} outcome=${3//|/\\|}
    if [[ ${4:-} == failed ]]; then outcome="**not survived**: $outcome"; FAILED=$((FAILED + 1)); fi
    ROWS+=("| $1 | $what | $STATUS | $outcome |")
}

# run KB|- ARGS...: vorp-cli under `ulimit -v KB` (- for none) and a 60 s guard;
# also under `ulimit -s STACK_KB` and in the memory cgroup CG where those are set.
run() {
    local vmem=$1; shift
    ( [[ $vmem == - ]] || ulimit -v "$vmem"; [[ -z ${STACK_KB:-} ]] || ulimit -s "$STACK_KB"
      [[ -z ${CG:-} ]] || echo "$BASHPID" >"$CG/cgroup.procs"
      exec timeout -s KILL 60 "$CLI" "$@" ) >"$OUT" 2>"$ERR"
    STATUS=$?
}

# A memory cgroup (v1 or v2) under this process's own, limited to BYTES, in CG;
# false where cgroups cannot be made here (not root, no writable hierarchy).
make_cgroup() {
    local bytes=$1 path
    CG=
    if path=$(sed -n 's/^[0-9]*:memory://p' /proc/self/cgroup) && [[ -n $path && -w /sys/fs/cgroup/memory$path ]]; then
        CG=/sys/fs/cgroup/memory${path%/}/vorp-tour-$$
        mkdir -p "$CG" && echo "$bytes" >"$CG/memory.limit_in_bytes" 2>/dev/null && return 0
    elif path=$(sed -n 's/^0:://p' /proc/self/cgroup) && [[ -w /sys/fs/cgroup$path ]] &&
         grep -qw memory "/sys/fs/cgroup${path%/}/cgroup.subtree_control" 2>/dev/null; then
        CG=/sys/fs/cgroup${path%/}/vorp-tour-$$
        mkdir -p "$CG" && echo "$bytes" >"$CG/memory.max" 2>/dev/null && return 0
    fi
    [[ -z $CG ]] || rmdir "$CG" 2>/dev/null
    CG=; return 1
}
drop_cgroup() { [[ -z ${CG:-} ]] || rmdir "$CG" 2>/dev/null; CG=; }

# survived EXPECTED...: STATUS is one of EXPECTED and stderr holds no crash text.
survived() {
    local crash want; REASON=
    crash=$(grep -m1 -oE "$CRASH_TEXT" "$ERR")
    [[ -z $crash ]] || { REASON="stderr says '$crash'"; return 1; }
    for want in "$@"; do [[ $STATUS == "$want" ]] && return 0; done
    if ((STATUS > 128)); then REASON="killed by SIG$(kill -l $((STATUS - 128)))"
    else REASON="exit $STATUS, expected $(IFS=/; echo "$*"): $(first_error)"; fi
    return 1
}

# expect KIND WHAT STATUS TEXT KB|- ARGS...: one run; TEXT ("" for none) must show on stderr.
expect() {
    local kind=$1 what=$2 want=$3 text=$4; shift 4
    run "$@"
    if ! survived "$want"; then row "$kind" "$what" "$REASON" failed
    elif [[ -n $text ]] && ! grep -qF -- "$text" "$ERR"; then row "$kind" "$what" "no \"$text\" on stderr" failed
    elif [[ $want == 2 ]]; then row "$kind" "$what" "refused: $(first_error)"
    else row "$kind" "$what" "exit $want${text:+, \"$text\"}"; fi
}

# refused ARGS... then refused_row KIND WHAT: every run of the group must exit 2.
TRIED=0 BAD=()
refused() {
    TRIED=$((TRIED + 1)); run 4000000 "$@"
    survived 2 || BAD+=("$(printf "'%s' " "$@")→ $REASON")
}
refused_row() {
    if ((${#BAD[@]} == 0)); then row "$1" "$2" "all $TRIED exit 2"
    else STATUS=mixed; row "$1" "$2" "${#BAD[@]} of $TRIED: $(IFS=';'; echo "${BAD[*]}")" failed; fi
    TRIED=0 BAD=()
}

# signalled SIGNALS DELAY KB|- ARGS...: starts vorp-cli, sends SIGNALS (comma-separated)
# after DELAY s and waits at most 20 s; sets STATUS and MS (first signal to exit).
signalled() {
    local signals=$1 delay=$2 vmem=$3 pid sig t0 deadline; shift 3
    ( [[ $vmem == - ]] || ulimit -v "$vmem"; exec "$CLI" "$@" ) >"$OUT" 2>"$ERR" &
    pid=$!; BACKGROUND+=("$pid")
    sleep "$delay"
    t0=$(now_us); deadline=$((t0 + 20000000))
    for sig in ${signals//,/ }; do kill -s "$sig" "$pid" 2>/dev/null; done
    while kill -0 "$pid" 2>/dev/null && (($(now_us) < deadline)); do sleep 0.02; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null; STATUS=$?
    MS=$((($(now_us) - t0) / 1000))
}

# stop_case KIND WHAT LIMIT_MS SIGNAL DELAY KB|- ARGS...: the run must end with 130 within LIMIT_MS.
stop_case() {
    local kind=$1 what=$2 limit=$3; shift 3
    signalled "$@"
    if ! survived 130; then row "$kind" "$what" "$REASON" failed
    elif ((MS > limit)); then row "$kind" "$what" "exit 130 but only after $MS ms" failed
    else
        local phase="while multiplying"
        grep -q 'Matrices are prepared' "$OUT" || phase="while preparing"
        row "$kind" "$what" "exit 130, $MS ms after the signal ($phase)$(grep -q Stopped "$OUT" && echo ', report says "Stopped"')"
    fi
}

# ---- bad inputs -------------------------------------------------------------
K="bad input"
for opt in -n --threads --l-block --chunk --repeat --warmup --min-time; do
    for v in "" " " " 5" "5 " 1e3 0x10 12abc abc +5 1,5; do
        if [[ $opt == -n ]]; then refused -n "$v"; else refused -n 8 "$opt" "$v"; fi
    done
done
refused_row "$K" "10 malformed numbers for each of -n, --threads, --l-block, --chunk, --repeat, --warmup, --min-time (empty, blank, ' 5', '5 ', 1e3, 0x10, 12abc, abc, +5, 1,5)"
for v in 0 -0 -1 46341 99999999999 18446744073709551617; do refused -n "$v"; done
for v in 0 -0 129 1.5; do refused -n 8 --threads "$v"; done
for v in 0 3 -4 1.5; do refused -n 8 --l-block "$v"; done
for v in -1 4294967296 18446744073709551616; do refused -n 8 --chunk "$v"; done
for v in 0 -0 1001; do refused -n 8 --repeat "$v"; done
for v in -1 101; do refused -n 8 --warmup "$v"; done
for v in -1 3601 nan inf 1e400; do refused -n 8 --min-time "$v"; done
refused_row "$K" "27 out-of-range values: -n 0/-0/-1/46341/99999999999/2^64+1, --threads 0/-0/129/1.5, --l-block 0/3/-4/1.5, --chunk -1/2^32/2^64, --repeat 0/-0/1001, --warmup -1/101, --min-time -1/3601/nan/inf/1e400"
for v in 5 -1 foo "" 1.0 " 1"; do refused -n 8 --method "$v"; done
refused_row "$K" "--method 5, -1, foo, empty, 1.0, ' 1'"
for a in --bogus -x extra --n ---help; do refused -n 8 "$a"; done
refused_row "$K" "unknown options --bogus, -x, extra, --n, ---help"
for a in -n --method --threads --l-block --chunk --repeat --min-time --warmup --sizes --threads-list --isa --format --output --parallel-kind --compare; do refused "$a"; done
refused -n 8 --compare "$ROOT/README.md"
refused_row "$K" "option without its value (15 options as last argument; --compare with one file)"
expect "$K" "--all with --method 1" 2 "" - --all --method 1 -n 8
expect "$K" "--sizes 8,16 with -n 8" 2 "" - --sizes 8,16 -n 8
expect "$K" "--threads-list 1,2 with --threads 2" 2 "" - --threads-list 1,2 --threads 2 -n 8
for v in "" , 8, ,8 8,,16 0 0,8 46341 "8;16" 8:16 8:16: a:b:c 8:16:-1 "8, 16"; do refused --sizes "$v"; done
refused_row "$K" "malformed --sizes: empty, ',', '8,', ',8', '8,,16', 0, '0,8', 46341, '8;16', '8:16', '8:16:', a:b:c, '8:16:-1', '8, 16'"
expect "$K" "--sizes 16:8:4 (descending range)" 2 "" - --sizes 16:8:4
expect "$K" "--sizes 8:16:0 (step 0)" 2 "" - --sizes 8:16:0
for v in 1:46340:1 8:46340:2 1:1000000:1; do refused --sizes "$v"; done
refused_row "$K" "huge --sizes ranges 1:46340:1, 8:46340:2, 1:1000000:1"
for v in "" , 1, ,1 1,,2 0 129 -1 1:4:1 "1 2"; do refused -n 8 --threads-list "$v"; done
refused_row "$K" "malformed --threads-list: empty, ',', '1,', ',1', '1,,2', 0, 129, -1, 1:4:1, '1 2'"
for v in xml "" JSON " text"; do refused -n 8 --format "$v"; done
refused_row "$K" "--format xml, empty, JSON, ' text'"
for v in avx1024 "" SSE2 neon; do refused -n 8 --isa "$v"; done
refused_row "$K" "--isa avx1024, empty, SSE2, neon"
for a in --parallel-kind=cuda --reference=mkl; do refused -n 8 "${a%%=*}" "${a#*=}"; done
refused -n 8 --reference=mkl
refused_row "$K" "--parallel-kind cuda, --reference mkl, --reference=mkl"

GOOD=$W/good.json
new_target "$GOOD"
run - -n 64 --format json --output "$GOOD"
if survived 0 && valid_json "$GOOD"; then row "$K" "baseline: -n 64 --format json --output FILE (FILE existed)" "exit 0, FILE replaced by valid JSON"
else row "$K" "baseline: -n 64 --format json --output FILE (FILE existed)" "${REASON:-FILE is not valid JSON}" failed; fi
: >"$W/empty.json"; echo 'hello' >"$W/text.json"; echo '[1,2,3]' >"$W/array.json"
echo '{"context":{},"results":[]}' >"$W/noschema.json"; mkdir "$W/dir.json"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); d["results"][0]["n"]="big"; json.dump(d,open(sys.argv[2],"w"))' "$GOOD" "$W/badpoint.json"
expect "$K" "--compare with a missing file" 2 "" - --compare "$GOOD" "$W/missing.json"
expect "$K" "--compare with an empty file" 2 "" - --compare "$W/empty.json" "$GOOD"
expect "$K" "--compare with a non-JSON file" 2 "" - --compare "$GOOD" "$W/text.json"
for f in array noschema badpoint; do refused --compare "$GOOD" "$W/$f.json"; refused --compare "$W/$f.json" "$GOOD"; done
refused_row "$K" "--compare with JSON of the wrong shape (an array; no schema_version; results[0].n a string), as OLD and as NEW"
expect "$K" "--compare with a directory" 2 "" - --compare "$GOOD" "$W/dir.json"
expect "$K" "--compare FILE FILE (sanity)" 0 "" - --compare "$GOOD" "$GOOD"
expect "$K" "--output into a missing directory" 2 "" - -n 8 --output "$W/missing/out.txt"
run - -n 8 --output "$W/dir.json"
if survived 2 && [[ -d $W/dir.json ]]; then row "$K" "--output onto a directory" "refused, directory intact: $(first_error)"
else row "$K" "--output onto a directory" "${REASON:-the directory was replaced}" failed; fi
if ((EUID == 0)); then STATUS=-; row "$K" "--output onto a read-only file" "skipped: running as root, which may write any file"
else
    new_target "$W/ro.txt"; chmod 444 "$W/ro.txt"; run - -n 8 --output "$W/ro.txt"
    if survived 2 && unchanged "$W/ro.txt"; then row "$K" "--output onto a read-only file" "refused, file unchanged: $(first_error)"
    else row "$K" "--output onto a read-only file" "${REASON:-exit $STATUS and the read-only file was replaced}" failed; fi
fi
new_target "$W/keep.txt"; run - -n 8 --threads 0 --output "$W/keep.txt"
if survived 2 && unchanged "$W/keep.txt"; then row "$K" "--output FILE (existing) with --threads 0" "refused, FILE unchanged$(partials)"
else row "$K" "--output FILE (existing) with --threads 0" "${REASON:-FILE changed}" failed; fi
mkfifo "$W/fifo"; cat "$W/fifo" >"$W/fifo.got" & reader=$!; BACKGROUND+=("$reader")
run - -n 8 --format csv --output "$W/fifo"
kill "$reader" 2>/dev/null; wait "$reader" 2>/dev/null
if ! survived 0 1 2; then row "$K" "--output onto a FIFO with a reader" "$REASON" failed
elif [[ ! -p $W/fifo ]]; then row "$K" "--output onto a FIFO with a reader" "exit $STATUS, the FIFO was replaced by a regular file; the reader got $(wc -c <"$W/fifo.got") bytes" failed
else row "$K" "--output onto a FIFO with a reader" "exit $STATUS, FIFO kept; the reader got $(wc -c <"$W/fifo.got") bytes"; fi

# ---- results files ------------------------------------------------------------
K="output"
# out_case WHAT WANT_STATUS CHECK -- COMMAND...: runs COMMAND (a shell text, $B the
# binary, $D a fresh directory); CHECK is a shell test on $D that must hold after.
out_case() {
    local what=$1 want=$2 check=$3 D; D=$(mktemp -d "$W/out.XXXXXX"); shift 3
    ( cd "$D" && B=$CLI D=$D timeout -s KILL 60 bash -c "$*" ) >"$OUT" 2>"$ERR"
    STATUS=$?
    if ! survived $want; then row "$K" "$what" "$REASON" failed
    elif ! ( cd "$D" && D=$D bash -c "$check" ) 2>/dev/null; then row "$K" "$what" "exit $STATUS, but not: $check" failed
    elif compgen -G "$D/*.partial-*" >/dev/null; then row "$K" "$what" "exit $STATUS, left a temporary file behind" failed
    else row "$K" "$what" "exit $STATUS; $check"; fi
}
out_case "-n 64 --format json 2>&- --output F (standard error closed)" 0 'python3 -c "import json; json.load(open(\"r.json\"))"' \
    '$B -n 64 --format json --output r.json 2>&-'
out_case "SIGINT before any figure (--method 0 -n 2816 --output F, F existed)" 130 '[[ $(cat r.json) == old ]]' \
    'echo old >r.json; $B --method 0 -n 2816 --format json --output r.json & sleep 1; kill -INT $!; wait $!'
# A script's background command ignores SIGQUIT (and SIGINT) unless given back.
for sig in USR1 QUIT ALRM; do
    out_case "SIG$sig during --method 0 -n 2816 --output F (F existed)" "$((128 + $(kill -l $sig)))" '[[ $(cat r.csv) == old ]]' \
        "ulimit -c 0; echo old >r.csv; env --default-signal=$sig \$B --method 0 -n 2816 --format csv --output r.csv & sleep 1; kill -$sig \$!; wait \$!"
done
out_case "--output into a missing directory names it" 2 "grep -q 'cannot create a file in' $ERR" \
    '$B -n 64 --output "$D/missing/x.json"'
out_case "--output onto a FIFO without a reader, one SIGTERM" 130 '[[ -p p ]]' \
    'mkfifo p; $B -n 32 --output p & sleep 1; kill -TERM $!; wait $!'
out_case "--compare /dev/zero /dev/zero (endless input)" 2 true '$B --compare /dev/zero /dev/zero'
out_case "--compare <(yes ' ') /dev/null" 2 true "\$B --compare <(yes ' ') /dev/null"
if ((EUID == 0)) && command -v setpriv >/dev/null && command -v unshare >/dev/null; then
    out_case "as nobody, F of root in a sticky directory (rename refused: written in place)" 0 \
        'python3 -c "import json; json.load(open(\"r.json\"))" && [[ $(stat -c %U r.json) == root ]]' \
        'chmod 711 "$D/.."; chmod 1777 .; echo old >r.json; chmod 666 r.json; setpriv --reuid=nobody --regid=nogroup --clear-groups $B -n 64 --format json --output r.json'
    out_case "root replaces a nobody:nogroup 640 file (owner, group and mode kept)" 0 '[[ $(stat -c "%U:%G %a" r.json) == "nobody:nogroup 640" ]]' \
        'echo old >r.json; chown nobody:nogroup r.json; chmod 640 r.json; $B -n 64 --format json --output r.json'
    out_case "F bind-mounted (a mount point: written in place)" 0 '[[ $(head -c1 src) == "{" ]]' \
        'echo a >src; echo b >r.json; unshare -m sh -c "mount --bind src r.json && $B -n 64 --format json --output r.json"'
    out_case "full file system (64 KiB tmpfs)" 1 "[[ \$(cat r.keep) == old ]] && grep -q 'No space left on device' $ERR" \
        'mkdir fs; unshare -m sh -c "mount -t tmpfs -o size=64k tmpfs fs && echo old >fs/r.json && { dd if=/dev/zero of=fs/fill bs=4k 2>/dev/null; true; } && $B -n 64 --format json --output fs/r.json; s=\$?; cat fs/r.json >r.keep; exit \$s"'
else
    STATUS=-; row "$K" "sticky directory, owner kept, bind mount, full disk" "skipped: needs root, setpriv and unshare"
fi

# ---- memory limits ----------------------------------------------------------
K="memory limit"
expect "$K" "ulimit -v 200000; -n 40 --method 1 --threads 128" 1 "Alloc Error" 200000 -n 40 --method 1 --threads 128
for m in 1 2 4; do expect "$K" "ulimit -v 200000; -n 64 --method $m --threads 128" 1 "Alloc Error" 200000 -n 64 --method "$m" --threads 128; done
expect "$K" "ulimit -v 200000; -n 64 --method 3 --threads 128 (one thread: fits)" 0 "" 200000 -n 64 --method 3 --threads 128
for m in 0 1 2 3 4; do expect "$K" "ulimit -v 300000; -n 4000 --method $m --threads 2" 1 "Alloc Error" 300000 -n 4000 --method "$m" --threads 2; done
expect "$K" "ulimit -v 200000; -n 64 --method 4 --threads 128 --check" 1 "Alloc Error" 200000 -n 64 --method 4 --threads 128 --check
expect "$K" "ulimit -v 4000000; -n 46340" 1 "Alloc Error" 4000000 -n 46340
new_target "$W/alloc.json"; run 200000 -n 40 --method 1 --threads 128 --format json --output "$W/alloc.json"
if survived 1 && unchanged "$W/alloc.json"; then row "$K" "ulimit -v 200000; -n 40 --method 1 --threads 128 --output FILE (existing)" "exit 1, FILE unchanged$(partials)"
else row "$K" "ulimit -v 200000; -n 40 --method 1 --threads 128 --output FILE (existing)" "${REASON:-FILE changed}" failed; fi
new_target "$W/sweep.json"
run 300000 --sizes 176,352,4000 --method 4 --min-time 0 --format json --output "$W/sweep.json"
points=$(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(sum(p["completed"]>0 for p in r), sum(p["completed"]==0 for p in r))' "$W/sweep.json" 2>/dev/null)
if survived 1 && [[ $points == "2 1" ]]; then row "$K" "ulimit -v 300000; --sizes 176,352,4000 --method 4 --format json --output FILE" "exit 1, FILE valid JSON: 2 points completed, 4000 without a figure"
else row "$K" "ulimit -v 300000; --sizes 176,352,4000 --method 4 --format json --output FILE" "${REASON:-FILE holds points completed/failed '$points', expected 2 1}" failed; fi
expect "$K" "ulimit -v 200000; --all -n 64 --threads 64 --min-time 0 (0 and 3 fit, 1, 2, 4 do not)" 1 "Alloc Error" 200000 --all -n 64 --threads 64 --min-time 0

# Thread stacks: each thread the run starts needs one, and the OpenMP runtime
# ends the process when it cannot map it; the run must refuse first.
for m in 1 2 4; do
    OMP_STACKSIZE=100G expect "$K" "OMP_STACKSIZE=100G -n 64 --method $m --threads 4" 1 "Alloc Error" - -n 64 --method "$m" --threads 4
done
STACK_KB=30000000 expect "$K" "ulimit -s 30000000; -n 64 --method 1 --threads 4" 1 "Alloc Error" - -n 64 --method 1 --threads 4
for v in "8 M" 1T 2 99999999999999999999 " 64k "; do
    OMP_STACKSIZE=$v expect "$K" "OMP_STACKSIZE='$v' ulimit -v 300000; -n 64 --method 1 --threads 24" 0 "" 300000 -n 64 --method 1 --threads 24
done
expect "$K" "ulimit -v 300000; --method 1 -n 880 --threads 24 --repeat 4 (the pool's stacks count once)" 0 "" 300000 --method 1 -n 880 --threads 24 --repeat 4 --min-time 0
expect "$K" "ulimit -v 300000; --all -n 176 --threads 24 --min-time 0" 0 "" 300000 --all -n 176 --threads 24 --min-time 0
if make_cgroup $((2 << 30)); then
    expect "$K" "2 GiB cgroup; --method 3 -n 8840 --l-block 8840 (scratch rows counted)" 1 "Alloc Error" - --method 3 -n 8840 --l-block 8840
    drop_cgroup
    make_cgroup $((300 << 20))
    expect "$K" "300 MiB cgroup; -n 1" 0 "" - -n 1
    expect "$K" "300 MiB cgroup; --method 4 -n 1936 --repeat 4 (kept slots count as the library's)" 0 "" - --method 4 -n 1936 --repeat 4 --min-time 0
    drop_cgroup
    make_cgroup $((1 << 30))
    # Two runs of 572 MiB each start together in 1 GiB: the guard lets both
    # in, and the one that finds the memory gone while zeroing must stop.
    ( run - --method 4 -n 5000 --threads 1; echo "$STATUS" >"$W/first.status"; cp "$ERR" "$W/first.err" ) &
    first=$!; BACKGROUND+=("$first")
    OUT=$W/second.out ERR=$W/second.err run - --method 4 -n 5000 --threads 1
    wait "$first"; second=$STATUS; STATUS=$(<"$W/first.status")
    WHAT="1 GiB cgroup; two runs of -n 5000 --method 4 (572 MiB each) at once"
    cp "$W/first.err" "$ERR"
    if ! survived 0 1; then row "$K" "$WHAT" "first: $REASON" failed
    else
        STATUS=$second; cp "$W/second.err" "$ERR"
        if ! survived 0 1; then row "$K" "$WHAT" "second: $REASON" failed
        else
            STATUS="$(<"$W/first.status")/$second"
            row "$K" "$WHAT" "exits $STATUS, neither killed$(cat "$W/first.err" "$W/second.err" | grep -q 'Alloc Error' && echo ', one stopped with "Alloc Error"')"
        fi
    fi
    drop_cgroup
else
    STATUS=-; row "$K" "memory cgroups of 2 GiB, 300 MiB, 1 GiB" "skipped: no writable memory cgroup here"
fi

# ---- signals ----------------------------------------------------------------
K="signal"
stop_case "$K" "SIGINT 0.5 s into -n 3000 --method 0" 2000 INT 0.5 - -n 3000 --method 0
stop_case "$K" "SIGTERM 0.5 s into -n 3000 --method 0" 2000 TERM 0.5 - -n 3000 --method 0
stop_case "$K" "SIGINT 0.5 s into -n 3000 --method 1 --threads 4" 2000 INT 0.5 - -n 3000 --method 1 --threads 4
stop_case "$K" "SIGINT 0.2 s into preparing -n 12000 --method 0 (ulimit -v 4000000)" 1000 INT 0.2 4000000 -n 12000 --method 0
new_target "$W/twice.txt"; signalled INT,TERM 0.5 - -n 3000 --method 0 --output "$W/twice.txt"
if survived 130 && unchanged "$W/twice.txt"; then row "$K" "SIGINT then SIGTERM (two signals, which the kernel cannot merge) 0.5 s into -n 3000 --method 0 --output FILE (existing)" "exit 130 in $MS ms, FILE unchanged$(partials)"
else row "$K" "SIGINT then SIGTERM (two signals, which the kernel cannot merge) 0.5 s into -n 3000 --method 0 --output FILE (existing)" "${REASON:-FILE changed}" failed; fi
new_target "$W/stop.json"; signalled INT 1.0 - --sizes 176,352,2816 --method 0 --min-time 0 --format json --output "$W/stop.json"
stopped=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["interrupted"], sum(p["completed"]>0 for p in d["results"]))' "$W/stop.json" 2>/dev/null)
if survived 130 && [[ $stopped == "True "[12] ]]; then row "$K" "SIGINT 1 s into --sizes 176,352,2816 --method 0 --format json --output FILE" "exit 130, FILE valid JSON, \"interrupted\": true, ${stopped#True } points completed"
else row "$K" "SIGINT 1 s into --sizes 176,352,2816 --method 0 --format json --output FILE" "${REASON:-FILE is not valid JSON with \"interrupted\": true and completed points ($stopped)}" failed; fi
WHAT="vorp-cli -n 200 --repeat 3 --output - --format csv | head -c 10"
"$CLI" -n 200 --repeat 3 --output - --format csv 2>"$ERR" | head -c 10 >/dev/null
STATUS=${PIPESTATUS[0]}
if ! survived 0 1 141; then row "$K" "$WHAT" "$REASON" failed
elif ((STATUS == 141)); then row "$K" "$WHAT" "killed by SIGPIPE: head closed the pipe first (the reader's choice)"
else row "$K" "$WHAT" "exit $STATUS: the output fitted in the pipe before head closed it"; fi
new_target "$W/hup.txt"; signalled HUP 0.5 - -n 3000 --method 0 --output "$W/hup.txt"
if survived 130 && { unchanged "$W/hup.txt" || grep -q Stopped "$W/hup.txt"; }; then
    row "$K" "SIGHUP 0.5 s into -n 3000 --method 0 --output FILE (existing)" "exit 130 in $MS ms, $(unchanged "$W/hup.txt" && echo "FILE unchanged" || echo 'FILE holds the report that says "Stopped"')$(partials)"
else row "$K" "SIGHUP 0.5 s into -n 3000 --method 0 --output FILE (existing)" "${REASON:-FILE is neither unchanged nor the stopped report}" failed; fi

# ---- extremes that must work ------------------------------------------------
K="extreme"
expect "$K" "-n 1" 0 "" - -n 1
expect "$K" "-n 1 --check" 0 "check: passed" - -n 1 --check
expect "$K" "-n 4 --l-block 4 --method 4" 0 "" - -n 4 --l-block 4 --method 4
expect "$K" "--threads 128 -n 64 --method 1" 0 "" - --threads 128 -n 64 --method 1
expect "$K" "--threads 128 --method 4 -n 352" 0 "" - --threads 128 --method 4 -n 352
expect "$K" "--method 4 --isa sse2 -n 176 --threads 3 --check" 0 "check: passed" - --method 4 --isa sse2 -n 176 --threads 3 --check
for m in 0 1 2 3 4; do expect "$K" "--method $m -n 176 --threads 2 --check" 0 "check: passed" - --method "$m" -n 176 --threads 2 --check; done
expect "$K" "--method 1 --chunk 4294967295 -n 64 --threads 3 --check" 0 "check: passed" - --method 1 --chunk 4294967295 -n 64 --threads 3 --check
expect "$K" "--all -n 176 --threads 2 --min-time 0 --check" 0 "" - --all -n 176 --threads 2 --min-time 0 --check
# OpenMP may give a smaller team than asked; every method must still compute it all.
for setting in OMP_THREAD_LIMIT=1 OMP_THREAD_LIMIT=2 OMP_DYNAMIC=true; do
  export "$setting"
  for isa in auto avx2 sse2; do
    expect "$K" "$setting --method 4 --isa $isa -n 352 --threads 3 --check" 0 "check: passed" - --method 4 --isa "$isa" -n 352 --threads 3 --check
  done
  expect "$K" "$setting --all -n 176 --threads 4 --min-time 0 --check" 0 "" - --all -n 176 --threads 4 --min-time 0 --check
  unset "${setting%%=*}"
done
run - -n 64 --method 4 --format json --output -
if survived 0 && valid_json "$OUT"; then row "$K" "-n 64 --method 4 --format json --output -" "exit 0, standard output is valid JSON"
else row "$K" "-n 64 --method 4 --format json --output -" "${REASON:-standard output is not valid JSON}" failed; fi

echo "| kind | what was tried | exit status | outcome |"
echo "|---|---|---|---|"
printf '%s\n' "${ROWS[@]}"
echo
echo "${#ROWS[@]} cases, $FAILED not survived (vorp-cli: $CLI)"
((FAILED == 0))
