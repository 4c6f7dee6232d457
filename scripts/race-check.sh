#!/usr/bin/env bash
# Race check of the OpenMP methods (HP, Block_cache and the run around them,
# and every parallel method with smaller teams than asked):
# builds the method tests with clang 14 and ThreadSanitizer against LLVM's
# OpenMP runtime (libomp) and runs them with Archer, LLVM OpenMP's race
# detector, which tells ThreadSanitizer about the runtime's barriers and
# schedules. (GCC's ThreadSanitizer cannot see libgomp's synchronisation and
# reports false races, hence clang and libomp here.)
#
# ThreadSanitizer sees accesses of up to 16 bytes: the 32- and 64-byte
# vector loads and stores and the inline assembly of Tavrel_8x4 escape it,
# so method 4's shared panels are checked by team_tests' bit-for-bit
# comparisons (a missing barrier changes the bits) more than here.
#
# First a small OpenMP program with a planted race must be reported, which
# shows that the detector is active; then methods_tests and team_tests must
# run clean.
#   scripts/race-check.sh            # build dir: build/race-check
# Installs clang and libomp-dev with apt-get when they are missing.
# Exit status 0 when both steps give the expected result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/race-check"
llvm=/usr/lib/llvm-14
archer="$llvm/lib/libarcher.so"

if ! command -v clang++-14 >/dev/null || [[ ! -e "$archer" || ! -e "$llvm/lib/libomp.so" ]]; then
  echo "Installing clang and libomp-dev"
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends clang-14 libomp-14-dev
fi
scripts/ensure-packages.sh build

flags="-fsanitize=thread -fno-omit-frame-pointer -g"
export OMP_TOOL_LIBRARIES="$archer"
export TSAN_OPTIONS="ignore_noninstrumented_modules=1 halt_on_error=0 exitcode=66"
export ARCHER_OPTIONS="verbose=1"
mkdir -p "$build"

echo "=== the detector finds a planted race"
cat > "$build/planted_race.cpp" <<'CPP'
#include <cstdio>
int main() {
    long shared = 0;
#pragma omp parallel for num_threads(2)
    for (int i = 0; i < 100000; ++i) shared += i;
    std::printf("%ld\n", shared);
}
CPP
clang++-14 $flags -O1 -fopenmp "$build/planted_race.cpp" -o "$build/planted_race"
if "$build/planted_race" >"$build/planted_race.log" 2>&1; then
  echo "FAILED: the planted race was not reported"; cat "$build/planted_race.log"; exit 1
fi
grep -q "WARNING: ThreadSanitizer: data race" "$build/planted_race.log" || {
  echo "FAILED: unexpected output"; cat "$build/planted_race.log"; exit 1; }
echo "reported, as it should be"

echo "=== methods_tests and team_tests under ThreadSanitizer + Archer"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
  -DVORP_BUILD_DIALOG=OFF -DVORP_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target methods_tests team_tests -j2
for suite in methods_tests team_tests; do
  log="$build/$suite.log"
  status=0
  "$build/bin/$suite" >"$log" 2>&1 || status=$?
  grep -q "Archer detected OpenMP application with TSan" "$log" || {
    echo "FAILED: Archer was not loaded"; tail -20 "$log"; exit 1; }
  if grep -q "WARNING: ThreadSanitizer" "$log" || [[ $status -ne 0 ]]; then
    echo "FAILED: $suite (exit status $status)"; grep -A30 "WARNING: ThreadSanitizer" "$log" | head -80
    tail -5 "$log"; exit 1
  fi
  echo "$suite: $(tail -1 "$log")"
done
echo "no data race reported"
