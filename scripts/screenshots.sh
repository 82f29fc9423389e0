#!/usr/bin/env bash
# Renders every secondary form (and the message box) in English and Chinese
# to build/screenshots/<language>/*.png, and every compiled picture on one
# sheet, build/screenshots/pictures.png, offscreen. Builds the renderer first
# when needed; dictionaries are taken from build/dict when they exist.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TOLVANE_BUILD_DIR:-$root/build}"

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DTOLVANE_WERROR=ON
fi
cmake --build "$build" --target tolvane-form-screenshots -j2

out="$build/screenshots"
rm -rf "$out"
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$build/tools/form-screenshots/tolvane-form-screenshots" "$out" "$build/dict"
