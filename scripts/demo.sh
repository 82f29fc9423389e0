#!/usr/bin/env bash
# The main job on its embedded default: installs what is missing (as root),
# builds, and runs against the bundled aircraft and cloud simulators on
# loopback (no hardware needed).
#
# With a display ($DISPLAY set and reachable) the real Tolvane window opens
# against the simulators; press "Upgrade all", close the window to end (see
# scripts/demo-window.sh). Without one, tolvane-cli runs the whole upgrade
# headless (scripts/demo-e2e.sh), and a picture of the window after its
# search is taken on a private Xvfb display: build/demo/tolvane.png.
#
#   BUILD_DIR=build-x ./scripts/demo.sh      another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export BUILD_DIR="${BUILD_DIR:-build}"
. scripts/demo-lib.sh

if [ "${DEMO_SKIP_BUILD:-}" != "1" ]; then
  demo_build
fi
export DEMO_SKIP_BUILD=1

if demo_display_reachable; then
  exec scripts/demo-window.sh
fi
if [ -n "${DISPLAY:-}" ]; then
  echo "(the display '$DISPLAY' does not answer from the demo's private network namespace;" \
    "running headless)"
fi
scripts/demo-e2e.sh
echo
echo "== The window, on a private X display"
scripts/demo-window.sh --screenshot "$BUILD_DIR/demo/tolvane.png"
