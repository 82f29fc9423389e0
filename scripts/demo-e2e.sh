#!/usr/bin/env bash
# End-to-end walk-through on loopback only: builds everything, starts the
# cloud simulator on the built sample directory and the aircraft simulator on
# its default scenario, then lets the program's own looper and codecs find
# the aircraft, read its versions, fetch the core family's firmware from the
# cloud and flash it, modules first and the core last. Afterwards the whole
# end-to-end test suite runs against simulators of its own.
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

if [ "${1:-}" != "--inside" ]; then
  if [ "${DEMO_SKIP_BUILD:-}" != "1" ]; then
    echo "== Building ($BUILD_DIR)"
    cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
    cmake --build "$BUILD_DIR"
  fi
  exec scripts/netns-run.sh "$0" --inside
fi

cloud_sim="$BUILD_DIR/tools/cloud-sim/tolvane-cloud-sim"
aircraft_sim="$BUILD_DIR/tools/aircraft-sim/tolvane-aircraft-sim"
sample="$BUILD_DIR/tools/cloud-sim/sample"
test_exe="$BUILD_DIR/tests/tst_looper_aircraftsim"
for f in "$cloud_sim" "$aircraft_sim" "$test_exe"; do
  [ -x "$f" ] || { echo "missing $f (did the build succeed?)" >&2; exit 1; }
done
[ -d "$sample" ] || { echo "missing $sample" >&2; exit 1; }

work="$(mktemp -d)"
pids=()
stop_all() {
  for p in "${pids[@]}"; do
    kill -TERM "$p" 2>/dev/null || true
  done
  for p in "${pids[@]}"; do
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT

# Waits up to 5 s for a pattern in a file and prints the first match.
wait_for() {
  local file="$1" pattern="$2" i
  for i in $(seq 50); do
    if [ -f "$file" ] && grep -m1 -o "$pattern" "$file"; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

echo
echo "== Starting the cloud simulator on 127.0.0.1 (served directory $sample)"
"$cloud_sim" --port 0 --root "$sample" --log "$work/cloud.jsonl" >"$work/cloud.out" 2>"$work/cloud.err" &
pids+=($!)
cloud_port="$(wait_for "$work/cloud.out" 'LISTENING [0-9]*' | cut -d' ' -f2)" || {
  echo "the cloud simulator did not start:" >&2; cat "$work/cloud.err" >&2; exit 1; }
echo "   listening on http://127.0.0.1:$cloud_port"

echo "== Starting the aircraft simulator (scenario default.json) on 127.0.0.1"
"$aircraft_sim" --scenario tools/aircraft-sim/scenarios/default.json --tcp 0 --erase-ms 200 \
  --log "$work/aircraft.jsonl" 2>"$work/aircraft.err" &
pids+=($!)
wait_for "$work/aircraft.jsonl" '"state":"listening"' >/dev/null || {
  echo "the aircraft simulator did not start:" >&2; cat "$work/aircraft.err" >&2; exit 1; }
aircraft_port="$(grep -m1 '"kind":"tcp"' "$work/aircraft.jsonl" | grep -o '"port":[0-9]*' | cut -d: -f2)"
echo "   waiting for the program's TCP client on port $aircraft_port"
echo "   aboard: $(grep -m1 '"event":"aircraft"' "$work/aircraft.jsonl" | grep -o '"dev":"[0-9.]*"' | cut -d'"' -f4 | tr '\n' ' ')"

echo
echo "== The program's looper meets the aircraft (FOUND), the cloud (CLOUD) and flashes (FLASHED)"
set +e
TOLVANE_E2E_AIRCRAFT_TCP="$aircraft_port" TOLVANE_E2E_AIRCRAFT_LOG="$work/aircraft.jsonl" \
  TOLVANE_E2E_CLOUD_URL="http://127.0.0.1:$cloud_port" \
  QT_QPA_PLATFORM=offscreen TOLVANE_GCPM_HOST=127.0.0.1 TOLVANE_GCPM_PORT=1 \
  "$test_exe" demo 2>&1 | awk '
    /^QINFO/ { sub(/^QINFO  : TstLooperAircraftSim::demo\(\) /, "   "); print; next }
    /^(FAIL|SKIP)/ || /^   (Loc|Actual|Expected)/ { print }'
demo_rc=${PIPESTATUS[0]}
set -e
echo "   the aircraft simulator saw $(grep -c '"event":"request"' "$work/aircraft.jsonl") requests," \
  "$(grep -c '"event":"verify"' "$work/aircraft.jsonl") verified transfers," \
  "$(grep -c '"event":"badCrc"' "$work/aircraft.jsonl") frames with a bad CRC"

echo
echo "== The end-to-end suite (each case starts its own simulator; faults included)"
set +e
QT_QPA_PLATFORM=offscreen TOLVANE_GCPM_HOST=127.0.0.1 TOLVANE_GCPM_PORT=1 \
  "$test_exe" 2>&1 | awk '
    /^QINFO/ { sub(/^QINFO  : TstLooperAircraftSim::/, "   "); print; next }
    /^(PASS|SKIP)/ { failing = 0; print; next }
    /^FAIL/ { failing = 1; print; next }
    /^   (Loc|Actual|Expected)/ { if (failing) print; next }
    /^Totals/ { print }'
suite_rc=${PIPESTATUS[0]}
set -e

echo
if [ "$demo_rc" -eq 0 ] && [ "$suite_rc" -eq 0 ]; then
  echo "== All good: found, flashed and verified on loopback."
else
  echo "== Something failed (walk-through exit $demo_rc, suite exit $suite_rc); see above."
  exit 1
fi
