#!/usr/bin/env bash
# Builds Vorp (Release) and runs the benchmark with its defaults:
#   ./run.sh                  # vorp-cli at n 2000 (normalised to 1936), Classic
#   ./run.sh --method 4 ...   # any vorp-cli options are passed through
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh build
cmake --preset release >/dev/null
# Only what runs: the two programs and, through them, the two libraries.
cmake --build --preset release --target vorp-cli vorp
exec build/release/bin/vorp-cli "$@"
