#!/usr/bin/env bash
# Renders every secondary form (and the message box) in English and Chinese
# to build/screenshots/<language>/*.png, and every compiled picture on one
# sheet, build/screenshots/pictures.png, offscreen. Builds the renderer first
# when needed; dictionaries are taken from build/dict when they exist. With
# QT_SCALE_FACTOR set (2 for a high-density screen) the pictures go to
# build/screenshots-x<factor> instead, beside those at 100 %.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TOLVANE_BUILD_DIR:-$root/build}"
# The renderer works in a directory of its own: relative paths would land there.
mkdir -p "$build"
build="$(cd "$build" && pwd)"

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DTOLVANE_WERROR=ON
fi
cmake --build "$build" --target tolvane-form-screenshots -j2

out="$build/screenshots"
scale="${QT_SCALE_FACTOR:-1}"
if [ "$scale" != 1 ]; then
  out="$build/screenshots-x$scale"
fi
rm -rf "$out"
mkdir -p "$out"
# Offscreen has one screen of 800x600 pixels; scaled, that is too small a
# desktop (a window is held to two thirds of it on first show), so a 4K
# virtual X screen stands in for a high-density one where it can be had.
run=(env QT_QPA_PLATFORM=offscreen)
if [ "$scale" != 1 ] && command -v xvfb-run >/dev/null; then
  run=(xvfb-run -a -s "-screen 0 3840x2160x24" env QT_QPA_PLATFORM=xcb)
fi
"${run[@]}" "$build/tools/form-screenshots/tolvane-form-screenshots" "$out" "$build/dict"
