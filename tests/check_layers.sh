#!/usr/bin/env bash
# check_layers.sh SOURCE_DIR
# Reads the "layer N  folder/" lines of docs/architecture.md and fails when a
# folder reaches into another folder of the same layer or of a layer above:
#  - includes: a source of the folder includes a header that lives there;
#  - links: a target_link_libraries of the folder's CMakeLists.txt links a
#    target defined there (each target belongs to the folder whose
#    CMakeLists.txt has its add_library or add_executable). PUBLIC, PRIVATE
#    and INTERFACE, imported targets (OpenMP::OpenMP_CXX, Qt6::Widgets),
#    variables and generator expressions are not targets of a folder.
set -euo pipefail
root=$1
mapfile -t layers < <(grep -E '^layer [0-9]+ +[A-Za-z0-9_/]+/' "$root/docs/architecture.md" | awk '{print $2, $3}')
[[ ${#layers[@]} -gt 0 ]] || { echo "FAIL: no layer lines in docs/architecture.md"; exit 1; }

declare -A rank_of home_of folder_of_target
for entry in "${layers[@]}"; do
  rank=${entry%% *} folder=${entry#* }
  folder=${folder%/}
  [[ -d $root/$folder ]] || { echo "FAIL: docs/architecture.md names $folder/, which does not exist"; exit 1; }
  rank_of[$folder]=$rank
  while IFS= read -r header; do home_of[$(basename "$header")]=$folder; done \
    < <(find "$root/$folder" -name '*.h')
done

# The CMake commands of one CMakeLists.txt that define or link targets, one a
# line with its arguments: "add_library NAME ...", "target_link_libraries
# NAME ITEM ...". Comments go; a command may span lines.
cmake_commands() {
  awk '{ sub(/#.*/, ""); text = text " " $0 }
       END {
         while (match(text, /(^|[^A-Za-z0-9_])(add_library|add_executable|target_link_libraries)[ \t]*\([^)]*\)/)) {
           command = substr(text, RSTART, RLENGTH)
           text = substr(text, RSTART + RLENGTH)
           sub(/^[^A-Za-z]*/, "", command)
           gsub(/[()]/, " ", command)
           gsub(/[ \t]+/, " ", command)
           print command
         }
       }' "$1"
}

for folder in "${!rank_of[@]}"; do
  [[ -f $root/$folder/CMakeLists.txt ]] || continue
  while read -r command name _; do
    [[ $command == add_library || $command == add_executable ]] && folder_of_target[$name]=$folder
  done < <(cmake_commands "$root/$folder/CMakeLists.txt")
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

links=0
for folder in "${!rank_of[@]}"; do
  [[ -f $root/$folder/CMakeLists.txt ]] || continue
  while read -r command name items; do
    [[ $command == target_link_libraries ]] || continue
    for item in $items; do
      home=${folder_of_target[$item]:-}
      [[ -z $home ]] && continue  # a keyword, an imported target, a variable
      links=$((links + 1))
      [[ $home == "$folder" ]] && continue
      if (( ${rank_of[$home]} >= ${rank_of[$folder]} )); then
        echo "FAIL: $folder/CMakeLists.txt (layer ${rank_of[$folder]}) links $name to $item from $home/ (layer ${rank_of[$home]})"
        bad=1
      fi
    done
  done < <(cmake_commands "$root/$folder/CMakeLists.txt")
done
[[ $bad -eq 0 ]] && echo "every include and every link ($links) points down a layer (${#layers[@]} folders)"
exit $bad
