#!/usr/bin/env bash
# check_cli_usage.sh DOCUMENT VORP_CLI
# Passes when the usage block of DOCUMENT (the fenced block that starts with
# "Usage: vorp-cli") is exactly what `vorp-cli --help` prints, so the user's
# document cannot drift from the program.
set -euo pipefail
doc=$1 cli=$2
block=$(awk '/^```/ { if (inside) exit; next } /^Usage: vorp-cli/ { inside = 1 } inside' "$doc")
[[ -n $block ]] || { echo "FAIL: $doc has no block starting with 'Usage: vorp-cli'"; exit 1; }
if ! diff <(printf '%s\n' "$block") <("$cli" --help); then
  echo "FAIL: the usage block of $doc differs from vorp-cli --help (< document, > --help)"
  exit 1
fi
echo "the usage block of $(basename "$doc") is vorp-cli --help"
