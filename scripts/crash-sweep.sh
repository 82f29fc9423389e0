#!/usr/bin/env bash
# The station dies mid-flash, and the next run makes the aircraft whole.
#
# For the core and a module of each bus kind (CAN by type, CAN by device
# number, serial bus), and for each phase of its flash (bootloader entry
# wait, erase, blocks, leave, read-back), tolvane-cli is killed with SIGKILL
# at that moment; then it runs again, from the same station (its settings
# folder and run journal) or from a fresh one (an empty settings folder).
# The second run must end 0 with every device on its target, and the
# simulator's log must show each device's last image to be its own file's.
#
#   scripts/crash-sweep.sh            every point, and a table of them
#   scripts/crash-sweep.sh --sample   the points the test command runs
#   scripts/crash-sweep.sh "77.1 erase fresh" ...   those points
#   BUILD_DIR=build-asan scripts/crash-sweep.sh
#   KEEP_WORK=1 ...   keeps the runs' folders (the path is printed)
#
# Runs inside a private loopback-only network namespace; the aircraft is the
# bundled simulator, the firmware an offline folder, so no cloud is asked.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${TOLVANE_IN_NETNS:-}" != "1" ]; then
  exec scripts/netns-run.sh "$0" "$@"
fi

. scripts/aircraft-runs-lib.sh

phases=(enter erase blocks leave readback)
stations=(same fresh)
if [ "${1:-}" = "--sample" ]; then
  # One point of each kind of recovery: a kind-2 module's bootloader found
  # by the journal, a serial-bus module's by the sweep of a fresh station,
  # and a core's by asking a silent link.
  points=("38.0 blocks same" "77.1 erase fresh" "core blocks fresh")
elif [ $# -gt 0 ]; then
  points=("$@")
else
  points=()
  for d in "${aircraft_devices[@]}"; do
    for ph in "${phases[@]}"; do
      for st in "${stations[@]}"; do points+=("$d $ph $st"); done
    done
  done
fi

port=24100
run_cli() { # in the folder; it becomes the program, so run it in a subshell or with &
  cd "$1" && exec env HOME="$1/home" "$cli" --link "tcp:127.0.0.1:$port" --upgrade --yes \
    --firmware "$work/fw" --report "$1/report.json" >"$1/out.txt" 2>"$1/err.txt"
}
# The moment a device reaches a phase, by the simulator's log.
reached() { # log, device, phase
  local log=$1 dev=$2
  case "$3" in
    enter) grep -q "\"dev\":\"$dev\",\"event\":\"state\",\"from\":\"application\",.*\"to\":\"bootloader\"" "$log" ;;
    erase) grep -q "\"dev\":\"$dev\",\"event\":\"state\",.*\"to\":\"erasing\"" "$log" ;;
    blocks) [ "$(grep -c "\"cmd\":\"dataBlock\",\"dev\":\"$dev\"" "$log")" -ge 3 ] ;;
    leave) grep -q "\"cmd\":\"leaveBootloader\",\"dev\":\"$dev\"" "$log" ;;
    readback) grep -q "\"dev\":\"$dev\",\"event\":\"state\",\"from\":\"bootloader\",.*\"to\":\"application\"" "$log" ;;
  esac
}

printf '%-6s %-9s %-6s %-9s %s\n' DEVICE PHASE FROM RESULT SECONDS
failed=0
start_all=$SECONDS
for point in "${points[@]}"; do
  read -r dev phase from <<<"$point"
  port=$((port + 1))
  p="$work/p$port"
  mkdir -p "$p"
  log="$p/sim.log"
  start_sim "$log" "$port" tcp
  t0=$SECONDS
  station "$p/a"
  run_cli "$p/a" &
  clipid=$!
  killed=no
  for _ in $(seq 1200); do
    if reached "$log" "$dev" "$phase"; then
      kill -9 "$clipid" 2>/dev/null && killed=yes
      break
    fi
    kill -0 "$clipid" 2>/dev/null || break
    sleep 0.05
  done
  wait "$clipid" 2>/dev/null || true
  second="$p/a"
  [ "$from" = fresh ] && { second="$p/b"; station "$second"; }
  code=0
  (run_cli "$second") || code=$?
  # Every device on its target, each last image its own file's.
  verdict=ok
  [ "$killed" = yes ] || verdict="not-killed"
  [ "$code" = 0 ] || verdict="exit-$code"
  for d in "${aircraft_devices[@]}"; do
    [ "$(last_image "$log" "$d")" = "${image[$(type_of "$d")]}" ] || verdict="image-$d"
  done
  kill "$simpid" 2>/dev/null || true
  wait "$simpid" 2>/dev/null || true
  printf '%-6s %-9s %-6s %-9s %s\n' "$dev" "$phase" "$from" "$verdict" "$((SECONDS - t0))"
  if [ "$verdict" != ok ]; then
    failed=$((failed + 1))
    echo "--- second run's output ($second):" && cat "$second/out.txt" "$second/err.txt" | tail -30
  fi
done
echo "BENCH crash_sweep_points ${#points[@]} points"
echo "BENCH crash_sweep_recovered $((${#points[@]} - failed)) points"
echo "BENCH crash_sweep_seconds $((SECONDS - start_all)) s"
[ "$failed" = 0 ]
