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
cli="$BUILD_DIR/app/tolvane-cli"
for f in "$cloud_sim" "$aircraft_sim" "$cli"; do
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

# The program reads its configuration from its working directory: the serial
# bus nodes it asks for are those of the scenario.
mkdir -p "$work/field"
cat >"$work/field/busdevcfg.xml" <<'XML'
<busdevcfg>
    <tunex><NodeId>1</NodeId><NodeId>2</NodeId></tunex>
    <servo><NodeId>3</NodeId></servo>
</busdevcfg>
XML

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
echo "== What the aircraft simulator verified (image received whole, SHA-256 of what it got)"
grep '"event":"verify"' "$work/aircraft.jsonl" | sed -E \
  's/.*"complete":([a-z]+).*"dev":"([^"]*)".*"gaps":([0-9]+).*"headerVersion":"([^"]*)".*"sha256":"(.{16}).*/   \2: complete \1, gaps \3, firmware \4, sha256 \5.../'
echo "   the aircraft saw $(grep -c '"event":"badCrc"' "$work/aircraft.jsonl") frames with a bad CRC;" \
  "the cloud recorded $(grep -c '"route":"editVersion"' "$work/cloud.jsonl") version reports"

echo
if [ "$cli_rc" -eq 0 ]; then
  echo "== All good: found, flashed, verified by the aircraft and read back on loopback."
else
  echo "== tolvane-cli ended with exit code $cli_rc; see above."
  exit 1
fi
