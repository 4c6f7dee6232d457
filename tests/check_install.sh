#!/usr/bin/env bash
# check_install.sh BUILD_DIR CONSUMER_SOURCE_DIR
# Installs the build to a temporary prefix, then builds and runs a small
# program that uses both kernel libraries twice: once found with
# find_package(Vorp CONFIG), once with pkg-config. Checks the man pages and
# the bash completion on the way.
set -euo pipefail
build=$1 consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
echo "find_package: $("$work/cmake/consumer")"

pc_dir=$(dirname "$(find "$prefix" -name Tavrel_8x4.pc | head -1)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs Tavrel_8x4 Tavrel)
libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir Tavrel_8x4)
# shellcheck disable=SC2086
c++ -std=c++17 "$consumer/consumer.cpp" $flags -Wl,-rpath,"$libdir" -o "$work/pkgconfig-consumer"
echo "pkg-config:   $("$work/pkgconfig-consumer")"

for page in vorp-cli vorp; do
  man_page=$(find "$prefix" -name "$page.1*" | head -1)
  [[ -n $man_page ]] || { echo "FAIL: no man page for $page"; exit 1; }
  MANWIDTH=80 man -l "$man_page" 2>/dev/null | grep -q -- "--help" || { echo "FAIL: $man_page lacks --help"; exit 1; }
done
completion=$prefix/share/bash-completion/completions/vorp-cli
[[ -f $completion ]] || { echo "FAIL: no bash completion at $completion"; exit 1; }
bash -c "source '$completion' && COMP_WORDS=(vorp-cli --form) COMP_CWORD=1 _vorp_cli && [[ \" \${COMPREPLY[*]} \" == *' --format '* ]]" ||
  { echo "FAIL: the completion does not complete --form"; exit 1; }
echo "man pages and bash completion installed"
