#!/usr/bin/env bash
# The main job on its embedded default: installs what is missing (as root),
# builds, and runs the walk-through against the bundled aircraft and cloud
# simulators on loopback (no hardware needed). See scripts/demo-e2e.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
exec scripts/demo-e2e.sh "$@"
