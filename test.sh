#!/usr/bin/env bash
# Builds Vorp and runs every test, first in the Release build and then in the
# AddressSanitizer + UndefinedBehaviorSanitizer build. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh test
for preset in release asan; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset tests"
  ctest --preset "$preset" -j2
done
