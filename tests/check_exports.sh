#!/usr/bin/env bash
# check_exports.sh LIBRARY EXPECTED_FILE
# Passes when the defined dynamic symbols of LIBRARY, demangled, are exactly
# the lines of EXPECTED_FILE (order does not matter), and prints the
# difference otherwise.
set -euo pipefail
library=$1
expected=$2

# AddressSanitizer adds an __odr_asan.<name> marker beside every exported
# variable; it is instrumentation, not part of the interface.
actual=$(nm -D --defined-only --demangle "$library" | cut -d' ' -f3- |
  { grep -v '^__odr_asan\.' || true; } | LC_ALL=C sort)
wanted=$(grep -v '^[[:space:]]*$' "$expected" | LC_ALL=C sort)

if [[ "$actual" == "$wanted" ]]; then
  echo "$(basename "$library"): $(wc -l <<<"$actual") exports as expected"
  exit 0
fi
echo "$(basename "$library"): exports differ from $expected (< missing, > unexpected)"
diff <(echo "$wanted") <(echo "$actual") || true
exit 1
