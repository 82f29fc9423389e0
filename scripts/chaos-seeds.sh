#!/usr/bin/env bash
# A bad line, many times: full upgrades of the simulator's aircraft (a core
# and a module of each bus kind) over UDP and TCP, each on a line made bad by
# a seed (tolvane-aircraft-sim --chaos: replies lost, damaged, delayed,
# repeated late, noise between them), with the cloud simulator's catalogue.
# Whatever the line does, one invariant holds:
#   - exit 0 only when every device the run found due holds its own image
#     (one whose version reply was lost in the search is not found; the
#     table counts those as MISSED: the next run takes them);
#   - nothing called upgraded, and no version told to the cloud, that the
#     device did not take (the simulator's log is the judge);
#   - never a hang (a run over 5 minutes is one), never a foreign image.
# A run may fail on a bad enough line; it must say so.
#
#   scripts/chaos-seeds.sh            seeds 1-6 on each link, and a table
#   scripts/chaos-seeds.sh --sample   what the test command runs
#   scripts/chaos-seeds.sh udp:7 tcp:9 ...
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${TOLVANE_IN_NETNS:-}" != "1" ]; then
  exec scripts/netns-run.sh "$0" "$@"
fi

. scripts/aircraft-runs-lib.sh
cloudsim="$build/tools/cloud-sim/tolvane-cloud-sim"
[ -x "$cloudsim" ] || { echo "chaos-seeds: $cloudsim is missing: build first" >&2; exit 2; }

if [ "${1:-}" = "--sample" ]; then
  runs=(tcp:2) # a damaged length byte in a bootloader reply, among others
elif [ $# -gt 0 ]; then
  runs=("$@")
else
  runs=()
  for seed in 1 2 3 4 5 6; do runs+=("udp:$seed" "tcp:$seed"); done
fi

# The catalogue: every device's file on the stable branch of the core's family.
mkdir -p "$work/cloud/files"
cp "$work/fw/"*.bin "$work/cloud/files/"
entries=""
for t in 80 38 79 77; do
  entries+="${entries:+,}{\"fid\":$t,\"version\":\"${target[$t]}\",\"upgradeFile\":\"$t.bin\","
  entries+="\"nickNameEn\":\"device $t\",\"UpgradeDescriptionEn\":\"chaos\"}"
done
echo "{\"catalogues\":[{\"fid\":80,\"branch\":1,\"firmwares\":[$entries]}]}" >"$work/cloud/catalog.json"

# "TYPE RESULT DUE" for each device of a report (its keys come sorted).
results() {
  awk '/"result":/ { r = $2 } /"type":/ { t = $2 }
       /"upgradeDue":/ && r != "" { print t + 0, r, $2; r = "" }' "$1" | tr -d '",'
}

printf '%-5s %-5s %-5s %-7s %-7s %-22s %s\n' LINK SEED EXIT CHAOS MISSED VERDICT SECONDS
failed=0
port=24600
start_all=$SECONDS
for run in "${runs[@]}"; do
  kind=${run%%:*} seed=${run##*:}
  port=$((port + 1))
  p="$work/r$port"
  station "$p"
  "$cloudsim" --port 0 --root "$work/cloud" --log "$p/cloud.log" >"$p/cloud.out" 2>&1 &
  cloudpid=$!
  for _ in $(seq 50); do grep -q LISTENING "$p/cloud.out" && break; sleep 0.1; done
  cloudurl="http://127.0.0.1:$(awk '/LISTENING/ { print $2 }' "$p/cloud.out")"
  log="$p/sim.log"
  start_sim "$log" "$port" "$kind" --chaos "$seed"
  link="tcp:127.0.0.1:$port"
  [ "$kind" = udp ] && link="udp:127.0.0.1:$port:$simudp"
  t0=$SECONDS
  code=0
  (cd "$p" && exec env HOME="$p/home" TOLVANE_CLOUD_URL="$cloudurl" TOLVANE_GCPM_HOST=127.0.0.1 \
    TOLVANE_GCPM_PORT=1 timeout 300 "$cli" --link "$link" --upgrade --yes \
    --report "$p/report.json" >"$p/out.txt" 2>"$p/err.txt") || code=$?
  kill "$simpid" "$cloudpid" 2>/dev/null || true
  wait "$simpid" "$cloudpid" 2>/dev/null || true

  verdict=ok
  [ "$code" = 124 ] && verdict=hang
  # Nothing upgraded that did not take its image; exit 0 only when all did.
  missed=0
  while read -r t r due; do
    d=""
    for x in "${aircraft_devices[@]}"; do [ "$(type_of "$x")" = "$t" ] && d=$x; done
    [ -n "$d" ] || continue
    took=no
    [ "$(last_image "$log" "$d")" = "${image[$t]}" ] && took=yes
    [ "$r" = upgraded ] && [ "$took" = no ] && verdict="false-upgraded-$d"
    [ "$code" = 0 ] && [ "$due" = true ] && [ "$took" = no ] && verdict="false-success-$d"
    [ "$due" = false ] && [ "$took" = no ] && missed=$((missed + 1))
  done < <(results "$p/report.json" 2>/dev/null || true)
  [ -s "$p/report.json" ] || [ "$verdict" != ok ] || verdict=no-report
  # No image whose header names another device.
  if grep '"event":"image"' "$log" | grep -q '"headerType"'; then
    grep '"event":"image"' "$log" | sed -n 's/.*"devType":\([0-9]*\).*"headerType":\([0-9]*\).*/\1 \2/p' |
      awk '$1 != $2 { bad = 1 } END { exit bad }' || verdict=foreign-image
  fi
  # The cloud hears only of devices that took their image.
  while read -r fid; do
    d=""
    for x in "${aircraft_devices[@]}"; do [ "$(type_of "$x")" = "$fid" ] && d=$x; done
    [ -n "$d" ] && [ "$(last_image "$log" "$d")" = "${image[$fid]}" ] || verdict="false-report-$fid"
  done < <(grep 'editVersion' "$p/cloud.log" | sed -n 's/.*"fid":"\?\([0-9]*\).*/\1/p')
  chaos=$(grep -c '"event":"chaos"' "$log" || true)
  printf '%-5s %-5s %-5s %-7s %-7s %-22s %s\n' "$kind" "$seed" "$code" "$chaos" "$missed" \
    "$verdict" "$((SECONDS - t0))"
  if [ "$verdict" != ok ]; then
    failed=$((failed + 1))
    echo "--- the run's output ($p):" && tail -n 25 "$p/out.txt" "$p/err.txt"
  fi
done
echo "BENCH chaos_runs ${#runs[@]} runs"
echo "BENCH chaos_invariant_held $((${#runs[@]} - failed)) runs"
echo "BENCH chaos_seconds $((SECONDS - start_all)) s"
[ "$failed" = 0 ]
