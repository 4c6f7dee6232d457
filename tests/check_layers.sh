#!/usr/bin/env bash
# check_layers.sh SOURCE_DIR
# Reads the "layer N  folder/" lines of docs/architecture.md and fails when a
# source of a folder includes a header that lives in another folder of the
# same layer or of a layer above.
set -euo pipefail
root=$1
mapfile -t layers < <(grep -E '^layer [0-9]+ +[A-Za-z0-9_/]+/' "$root/docs/architecture.md" | awk '{print $2, $3}')
[[ ${#layers[@]} -gt 0 ]] || { echo "FAIL: no layer lines in docs/architecture.md"; exit 1; }

declare -A rank_of home_of
for entry in "${layers[@]}"; do
  rank=${entry%% *} folder=${entry#* }
  folder=${folder%/}
  [[ -d $root/$folder ]] || { echo "FAIL: docs/architecture.md names $folder/, which does not exist"; exit 1; }
  rank_of[$folder]=$rank
  while IFS= read -r header; do home_of[$(basename "$header")]=$folder; done \
    < <(find "$root/$folder" -name '*.h')
done

bad=0
for folder in "${!rank_of[@]}"; do
  while IFS= read -r file; do
    while IFS= read -r included; do
      home=${home_of[$included]:-}
      [[ -z $home || $home == "$folder" ]] && continue
      if (( ${rank_of[$home]} >= ${rank_of[$folder]} )); then
        echo "FAIL: ${file#"$root"/} (layer ${rank_of[$folder]}) includes $included from $home/ (layer ${rank_of[$home]})"
        bad=1
      fi
    done < <(sed -n 's/^[[:space:]]*#include "\([^"]*\)".*/\1/p' "$file" | xargs -r -n1 basename)
  done < <(find "$root/$folder" -name '*.cpp' -o -name '*.h')
done
[[ $bad -eq 0 ]] && echo "every include points down a layer (${#layers[@]} folders)"
exit $bad
