#!/usr/bin/env bash
# Installs the Debian packages that building and testing Vorp need, when they
# are missing. Idempotent: with everything present it changes nothing and
# does not touch the package lists.
#   scripts/ensure-packages.sh build   # compiler, CMake, Ninja, Qt 6, test and bench libraries
#   scripts/ensure-packages.sh test    # the same plus the tools the tests call
set -euo pipefail

build_packages=(
  g++ cmake ninja-build pkg-config help2man
  qt6-base-dev
  libgtest-dev libbenchmark-dev libopenblas-dev libblis-dev nlohmann-json3-dev
)
test_packages=(desktop-file-utils gnuplot-nox man-db locales clang-format)

wanted=("${build_packages[@]}")
if [[ "${1:-build}" == "test" ]]; then wanted+=("${test_packages[@]}"); fi

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
