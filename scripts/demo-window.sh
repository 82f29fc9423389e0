#!/usr/bin/env bash
# The Tolvane window against the bundled simulators, on loopback only:
# starts the cloud simulator on a copy of the built sample directory (with no
# newer release of Tolvane itself, so the updater lets the window open) and
# the aircraft simulator on its default scenario over UDP, then starts the
# real Tolvane from the build folder, with ZoHaldenUpdate beside it, in a
# working directory of its own whose sysconfig.xml points at 127.0.0.1. The
# window searches on its own, finds the aircraft and shows what every unit
# runs and what the cloud offers.
#
#   scripts/demo-window.sh                   on $DISPLAY: press "Upgrade all",
#                                            close the window to end
#   scripts/demo-window.sh --screenshot OUT.png
#                                            on a private Xvfb display: the
#                                            window after the search, saved as
#                                            OUT.png, then closed
#   BUILD_DIR=build-x, DEMO_SKIP_BUILD=1     as for scripts/demo-e2e.sh
#   DEMO_AIRCRAFT_ARGS="--fault core:bootloader"
#                                            more for the aircraft simulator
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
  exec scripts/netns-run.sh "$0" --inside "$@"
fi
shift

screenshot=""
if [ "${1:-}" = "--screenshot" ]; then
  [ -n "${2:-}" ] || { echo "--screenshot needs a file name" >&2; exit 2; }
  screenshot="$(realpath -m "$2")"
fi

demo_require "$cloud_sim" "$aircraft_sim" "$tolvane" "$BUILD_DIR/ZoHaldenUpdate"
[ -z "$screenshot" ] || demo_require "$xshot"
demo_begin

if [ -n "$screenshot" ]; then
  if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "Xvfb and xdotool are needed for the picture (scripts/install-deps.sh)" >&2
    exit 1
  fi
  # Xvfb picks a free display number itself and writes it to fd 3.
  Xvfb -screen 0 1280x800x24 -nolisten tcp -noreset -displayfd 3 3>"$work/display" 2>"$work/xvfb.err" &
  pids+=($!)
  number="$(wait_for "$work/display" '^[0-9][0-9]*')" || {
    echo "Xvfb did not start:" >&2; cat "$work/xvfb.err" >&2; exit 1; }
  export DISPLAY=":$number"
  echo "== A private X display, $DISPLAY"
elif ! xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "the display '${DISPLAY:-}' cannot be reached from here" >&2
  exit 1
fi

echo
demo_start_cloud "$(demo_served_dir_without_update)"
# The aircraft sends its telemetry to the port Tolvane listens on.
tolvane_udp_port="$(demo_free_udp_port)"
# shellcheck disable=SC2086 # the extra arguments are words
demo_start_aircraft --udp 0 --udp-peer "127.0.0.1:$tolvane_udp_port" ${DEMO_AIRCRAFT_ARGS:-}
# A TCP port nobody listens on: the search never gets that far.
demo_write_tolvane_field "$work/field" "$aircraft_port" "$tolvane_udp_port" 1

log_dir="$(realpath -m "$BUILD_DIR/demo")"
mkdir -p "$log_dir"
tolvane_abs="$(realpath "$tolvane")"
echo
echo "== Tolvane (working directory $work/field, output in $log_dir/tolvane.log)"
(cd "$work/field" && exec env TOLVANE_CLOUD_URL="http://127.0.0.1:$cloud_port" \
  TOLVANE_GCPM_HOST=127.0.0.1 TOLVANE_GCPM_PORT=1 QT_QPA_PLATFORM=xcb \
  "$tolvane_abs" >"$log_dir/tolvane.log" 2>&1) &
tolvane_pid=$!
pids+=("$tolvane_pid")

# The window's id, once Tolvane (after its updater) has shown it.
window=""
for _ in $(seq 300); do
  window="$(xdotool search --onlyvisible --pid "$tolvane_pid" 2>/dev/null | tail -n1)" || true
  [ -n "$window" ] && break
  kill -0 "$tolvane_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { echo "Tolvane's window did not open; see $log_dir/tolvane.log" >&2; exit 1; }

if [ -z "$screenshot" ]; then
  echo "   The window searches for the aircraft and shows what every unit runs and what the"
  echo "   cloud offers. Press \"Upgrade all\" to flash them; close the window to end the demo."
  set +e
  wait "$tolvane_pid"
  rc=$?
  set -e
  echo
  demo_print_verified
  echo
  echo "== Tolvane ended (exit code $rc); the simulators are stopped."
  exit 0
fi

echo "   waiting for the search and the catalogue"
wait_for "$work/cloud.jsonl" '"route":"getFirmware"' 300 >/dev/null || {
  echo "the catalogue was never requested; see $log_dir/tolvane.log" >&2; exit 1; }
# The rows fill in once the catalogue has arrived.
sleep 2
mkdir -p "$(dirname "$screenshot")"
"$xshot" "$screenshot" "$window" 2>"$work/xshot.err" || {
  echo "the picture could not be taken:" >&2; cat "$work/xshot.err" >&2; exit 1; }
echo "   window after the search: $screenshot"
echo "   asked for their versions: $(grep '"cmd":"versionQuery"' "$work/aircraft.jsonl" | grep -o '"dev":"[0-9.]*"' | cut -d'"' -f4 | sort -u | tr '\n' ' ')"

# The window's close button: right in its title row.
width="$(xdotool getwindowgeometry --shell "$window" | sed -n 's/^WIDTH=//p')"
xdotool mousemove --window "$window" $((width - 27)) 21 sleep 0.3 click 1
for _ in $(seq 50); do
  kill -0 "$tolvane_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$tolvane_pid" 2>/dev/null; then
  echo "== Tolvane did not close from its close button; it is stopped with the simulators."
  exit 1
fi
set +e
wait "$tolvane_pid"
rc=$?
set -e
echo "== Tolvane closed (exit code $rc); the simulators are stopped."
