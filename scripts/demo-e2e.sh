#!/usr/bin/env bash
# End-to-end walk-through on loopback only: builds everything, starts the
# cloud simulator on the built sample directory and the aircraft simulator on
# its default scenario, then runs `tolvane-cli --upgrade` against them: it
# finds the aircraft, reads every unit's version, fetches the core family's
# catalogue and firmware, flashes what is due (modules first, the core last),
# reads the versions back and writes a JSON report. Last, the aircraft
# simulator's own verification of every image it received is printed.
#
#   scripts/demo-e2e.sh            build in build/ and run
#   BUILD_DIR=build-x scripts/demo-e2e.sh
#   DEMO_SKIP_BUILD=1 BUILD_DIR=build-x scripts/demo-e2e.sh   (already built)
#
# Everything after the build runs inside scripts/netns-run.sh: a private
# network namespace that holds nothing but loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
. scripts/demo-lib.sh

if [ "${1:-}" != "--inside" ]; then
  if [ "${DEMO_SKIP_BUILD:-}" != "1" ]; then
    demo_build
  fi
  exec scripts/netns-run.sh "$0" --inside
fi

demo_require "$cloud_sim" "$aircraft_sim" "$cli"
demo_begin

echo
demo_start_cloud "$sample"
demo_start_aircraft --tcp 0
echo "   waiting for the program's TCP client on port $aircraft_port"
demo_write_busdevcfg "$work/field"

echo
echo "== tolvane-cli --upgrade --yes --link tcp:127.0.0.1:$aircraft_port"
set +e
cli_abs="$(realpath "$cli")"
(cd "$work/field" && TOLVANE_CLOUD_URL="http://127.0.0.1:$cloud_port" \
  TOLVANE_GCPM_HOST=127.0.0.1 TOLVANE_GCPM_PORT=1 \
  "$cli_abs" --link "tcp:127.0.0.1:$aircraft_port" --upgrade --yes --report "$work/report.json")
cli_rc=$?
set -e

echo
demo_print_verified

echo
if [ "$cli_rc" -eq 0 ]; then
  echo "== All good: found, flashed, verified by the aircraft and read back on loopback."
else
  echo "== tolvane-cli ended with exit code $cli_rc; see above."
  exit 1
fi
