#!/usr/bin/env bash
# check_load_binding.sh PROGRAM KERNEL_LIB_DIR STUB_LIBRARY
# The program, linked with immediate binding and RUNPATH $ORIGIN, starts
# beside the real kernel libraries, and refuses to start (the loader stops
# it before main) beside a libTavrel_8x4.so.1 that lacks one export.
set -euo pipefail
program=$1 libs=$2 stub=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/real" "$work/stub"
for dir in real stub; do
  cp "$program" "$work/$dir/"
  cp -L "$libs/libTavrel.so.1" "$work/$dir/"
done
cp -L "$libs/libTavrel_8x4.so.1" "$work/real/"
cp -L "$stub" "$work/stub/libTavrel_8x4.so.1"
name=$(basename "$program")

"$work/real/$name" --version >/dev/null || { echo "FAIL: $name does not start beside the real libraries"; exit 1; }
if "$work/stub/$name" --version >"$work/out" 2>&1; then
  echo "FAIL: $name started although libTavrel_8x4.so.1 lacks tavrel_AVX_8x4x16_Packed"
  exit 1
fi
grep -q "undefined symbol: .*tavrel_AVX_8x4x16_Packed" "$work/out" || { echo "FAIL: unexpected message:"; cat "$work/out"; exit 1; }
echo "$name refuses to start without tavrel_AVX_8x4x16_Packed: $(head -1 "$work/out")"
