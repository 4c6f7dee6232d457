#!/usr/bin/env bash
# check_format.sh SOURCE_DIR
# Fails when a C++ source of the tree differs from what clang-format makes of
# it with the tree's .clang-format; exits 77 (skipped) without clang-format.
set -euo pipefail
root=$1
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 77; }
cd "$root"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
[[ ${#sources[@]} -gt 0 ]] || { echo "FAIL: no sources found"; exit 1; }
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "FAIL: run clang-format -i on the files above"
  exit 1
fi
echo "${#sources[@]} sources follow .clang-format"
