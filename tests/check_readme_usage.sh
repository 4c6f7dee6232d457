#!/usr/bin/env bash
# check_readme_usage.sh README VORP_CLI
# Passes when the usage block of README (the fenced block that starts with
# "Usage: vorp-cli") is exactly what `vorp-cli --help` prints, so the user's
# document cannot drift from the program.
set -euo pipefail
readme=$1 cli=$2
block=$(awk '/^```/ { if (inside) exit; next } /^Usage: vorp-cli/ { inside = 1 } inside' "$readme")
[[ -n $block ]] || { echo "FAIL: $readme has no block starting with 'Usage: vorp-cli'"; exit 1; }
if ! diff <(printf '%s\n' "$block") <("$cli" --help); then
  echo "FAIL: the usage block of $readme differs from vorp-cli --help (< README, > --help)"
  exit 1
fi
echo "the usage block of $(basename "$readme") is vorp-cli --help"
