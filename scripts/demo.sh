#!/usr/bin/env bash
# Builds the programs and the simulators and runs the main job against the
# bundled aircraft and cloud simulators (no hardware needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)"
echo "Built targets:"
find build -maxdepth 3 -type f -executable \( -name 'Tolvane' -o -name 'ZoHaldenUpdate' -o -name 'tolvane-*' \) | sort
