#!/usr/bin/env bash
# Takes docs/dialog.png: the dialog after a completed method 4 run with the
# result check, driven with the keyboard under a virtual X server.
#   scripts/screenshot-dialog.sh [--build-dir DIR] [--output FILE]
# Builds vorp (Release preset) when DIR holds none, and installs the X tools
# it needs (xvfb, xauth, x11-utils, xdotool, imagemagick, openbox) when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/release
output=docs/dialog.png
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build-dir) build_dir="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    *) echo "usage: $0 [--build-dir DIR] [--output FILE]" >&2; exit 2 ;;
  esac
done

tools=(xvfb xauth x11-utils xdotool imagemagick openbox)
missing=()
for package in "${tools[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

vorp="$build_dir/bin/vorp"
if [[ ! -x "$vorp" ]]; then
  scripts/ensure-packages.sh build
  if [[ "$build_dir" == build/release ]]; then
    cmake --preset release >/dev/null
  else
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build_dir" --target vorp
fi

# A free display number.
display=90
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
export DISPLAY=":$display"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &  # window frames, so the caption shows
pids+=($!)
sleep 1
"$vorp" >/dev/null 2>&1 &
vorp_pid=$!
pids+=("$vorp_pid")

window=$(timeout 30 xdotool search --sync --name "MATRIX PRODUCT" | head -1)
xdotool windowactivate --sync "$window"
sleep 0.5
keys() { for key in "$@"; do xdotool key "$key"; sleep 0.15; done; }
# The focus starts in n. Shift+Tab reaches the last method button.
keys shift+Tab space          # method 4
keys Tab Tab Tab ctrl+a       # n, l_block, threads
xdotool type --delay 100 "2"
keys Tab Tab Tab Tab Tab      # Start, Reset, Cancel, the report, Check result
keys space                    # tick it
keys shift+Tab shift+Tab shift+Tab shift+Tab  # back to Start
keys space

# The run is over when vorp stops using the processor.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$vorp_pid/stat"; }
sleep 1
idle=0
for _ in $(seq 600); do
  before=$(cpu_ticks)
  sleep 0.5
  if (($(cpu_ticks) - before < 5)); then idle=$((idle + 1)); else idle=0; fi
  ((idle >= 3)) && break
done
sleep 0.5

mkdir -p "$(dirname "$output")"
import -frame -window "$window" "$output"
echo "saved $output"
