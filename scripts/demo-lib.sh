# shellcheck shell=bash disable=SC2034
# Shared by the demo scripts; sourced, not run. The built programs, the two
# simulators on loopback, the working directory the programs read their
# configuration from, and what the aircraft simulator verified. Expects the
# repository root as the current directory and BUILD_DIR set.

demo_build() {
  echo "== Building ($BUILD_DIR)"
  cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
  cmake --build "$BUILD_DIR"
}

cloud_sim="$BUILD_DIR/tools/cloud-sim/tolvane-cloud-sim"
aircraft_sim="$BUILD_DIR/tools/aircraft-sim/tolvane-aircraft-sim"
sample="$BUILD_DIR/tools/cloud-sim/sample"
cli="$BUILD_DIR/app/tolvane-cli"
tolvane="$BUILD_DIR/Tolvane"
xshot="$BUILD_DIR/tools/xshot/tolvane-xshot"

# Fails with a message unless every named program was built.
demo_require() {
  local f
  for f in "$@"; do
    [ -x "$f" ] || { echo "missing $f (did the build succeed?)" >&2; exit 1; }
  done
  [ -d "$sample" ] || { echo "missing $sample" >&2; exit 1; }
}

# A scratch directory for logs and configuration ($work); the simulators
# (and whatever else is added to pids) are ended and it is removed on exit.
demo_begin() {
  work="$(mktemp -d)"
  pids=()
  trap demo_stop_all EXIT
}
demo_stop_all() {
  local p i
  # The last started first: the programs before the simulators and the
  # display they use.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null || true
  done
  for p in "${pids[@]}"; do
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}

# Waits up to 5 s (or $3 tenths of a second) for a pattern in a file and
# prints the first match.
wait_for() {
  local file="$1" pattern="$2" tries="${3:-50}" i
  for i in $(seq "$tries"); do
    if [ -f "$file" ] && grep -m1 -o "$pattern" "$file"; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Starts the cloud simulator on 127.0.0.1, serving $1; sets cloud_port.
demo_start_cloud() {
  local root="$1"
  echo "== Starting the cloud simulator on 127.0.0.1 (served directory $root)"
  "$cloud_sim" --port 0 --root "$root" --log "$work/cloud.jsonl" >"$work/cloud.out" 2>"$work/cloud.err" &
  pids+=($!)
  cloud_port="$(wait_for "$work/cloud.out" 'LISTENING [0-9]*' | cut -d' ' -f2)" || {
    echo "the cloud simulator did not start:" >&2; cat "$work/cloud.err" >&2; exit 1; }
  echo "   listening on http://127.0.0.1:$cloud_port"
}

# Starts the aircraft simulator on the default scenario with the link
# options given (--tcp 0, or --udp 0 --udp-peer ...); sets aircraft_port to
# the port of that link.
demo_start_aircraft() {
  echo "== Starting the aircraft simulator (scenario default.json) on 127.0.0.1"
  "$aircraft_sim" --scenario tools/aircraft-sim/scenarios/default.json "$@" --erase-ms 200 \
    --log "$work/aircraft.jsonl" 2>"$work/aircraft.err" &
  pids+=($!)
  wait_for "$work/aircraft.jsonl" '"state":"listening"' >/dev/null || {
    echo "the aircraft simulator did not start:" >&2; cat "$work/aircraft.err" >&2; exit 1; }
  aircraft_port="$(grep -m1 '"state":"listening"' "$work/aircraft.jsonl" | grep -o '"port":[0-9]*' | cut -d: -f2)"
  echo "   aboard: $(grep -m1 '"event":"aircraft"' "$work/aircraft.jsonl" | grep -o '"dev":"[0-9.]*"' | cut -d'"' -f4 | tr '\n' ' ')"
}

# The programs read their configuration from their working directory: the
# serial bus nodes they ask for are those of the scenario.
demo_write_busdevcfg() {
  mkdir -p "$1"
  cat >"$1/busdevcfg.xml" <<'XML'
<busdevcfg>
    <tunex><NodeId>1</NodeId><NodeId>2</NodeId></tunex>
    <servo><NodeId>3</NodeId></servo>
</busdevcfg>
XML
}

# A UDP port on 127.0.0.1 that nothing holds at the moment.
demo_free_udp_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    ss -Hluna "sport = :$port" 2>/dev/null | grep -q . || { echo "$port"; return; }
  done
}

# Tolvane's working directory in $1: the link settings on loopback (UDP to
# the aircraft at $2 from local port $3, the TCP client at $4), English,
# and the built dictionaries.
demo_write_tolvane_field() {
  local dir="$1"
  demo_write_busdevcfg "$dir"
  cat >"$dir/sysconfig.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<config>
    <connection type="0">
        <com></com>
        <baud>115200</baud>
        <databits>8</databits>
        <parity>0</parity>
        <stopbits>1</stopbits>
        <host>127.0.0.1</host>
        <hostport>$2</hostport>
        <localPort>$3</localPort>
        <TcpServerHost>127.0.0.1</TcpServerHost>
        <TcpServerHostPort>$4</TcpServerHostPort>
        <TcpClientLocalPort>0</TcpClientLocalPort>
    </connection>
    <lan isset="1" language="en_US"/>
</config>
XML
  mkdir -p "$dir/dict"
  cp "$BUILD_DIR"/dict/*.qm "$dir/dict/" 2>/dev/null || echo "   (no dictionaries in $BUILD_DIR/dict: the window reads the ones compiled into it)"
}

# A copy of the sample directory in which the cloud offers Tolvane no newer
# release of itself (the sample's mandatory 2.1.9.3 would hold the window
# back behind the updater's); prints its path.
demo_served_dir_without_update() {
  local dir="$work/served"
  cp -r "$sample" "$dir"
  cat >"$dir/releases.json" <<'JSON'
{
  "releases": [
    {
      "cdt": "2026-11-20 10:15:00",
      "importanceLevel": 2,
      "description": "The release this program is.",
      "version": "2.1.9.2",
      "archive": "Tolvane-2.1.9.2.zip"
    }
  ]
}
JSON
  echo "$dir"
}

# The aircraft simulator's own verdict on every image it received, and the
# counts the cloud and the aircraft kept.
demo_print_verified() {
  echo "== What the aircraft simulator verified (image received whole, SHA-256 of what it got)"
  if grep -q '"event":"verify"' "$work/aircraft.jsonl"; then
    grep '"event":"verify"' "$work/aircraft.jsonl" | sed -E \
      's/.*"complete":([a-z]+).*"dev":"([^"]*)".*"gaps":([0-9]+).*"headerVersion":"([^"]*)".*"sha256":"(.{16}).*/   \2: complete \1, gaps \3, firmware \4, sha256 \5.../'
  else
    echo "   no image was received"
  fi
  echo "   the aircraft saw $(grep -c '"event":"badCrc"' "$work/aircraft.jsonl") frames with a bad CRC;" \
    "the cloud recorded $(grep -c '"route":"editVersion"' "$work/cloud.jsonl") version reports"
}

# True when an X display is named and answers from inside the private
# network namespace the demo runs in (a display forwarded over TCP does not).
demo_display_reachable() {
  [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null \
    && scripts/netns-run.sh xdotool getdisplaygeometry >/dev/null 2>&1
}
