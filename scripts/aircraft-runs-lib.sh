# Shared by the scripts that run tolvane-cli against the aircraft simulator
# many times (crash-sweep.sh, chaos-seeds.sh): the programs, an aircraft of
# one core and a module of each bus kind, its firmware folder, a station's
# settings folder, and the check of what each device last took. Source it
# from the repository's root with BUILD_DIR set or defaulting to build/;
# it leaves $work, removed on exit unless KEEP_WORK is set.

build="$(cd "${BUILD_DIR:-build}" && pwd)"
cli="$build/app/tolvane-cli"
sim="$build/tools/aircraft-sim/tolvane-aircraft-sim"
pack="$build/tools/fwpack/tolvane-fwpack"
for p in "$cli" "$sim" "$pack"; do
  [ -x "$p" ] || { echo "$(basename "$0"): $p is missing: build first" >&2; exit 2; }
done

# The core (80), a CAN module addressed by type (38), one addressed by
# device number (79) and a serial-bus module (77, node 1): the simulator's
# names, and its arguments for them.
aircraft_devices=(38.0 79.0 77.1 core)
aircraft_args=(--core-type 80 --core-version 1.7.5 --eid 3A0F2C5D00170043
  --module 38:0:1.0.4:3801 --module 79:0:1.0.4:7901 --module 77:1:1.0.4:7701)

work="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null || true; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
mkdir -p "$work/fw"
declare -A target=([38]=2.0.4 [79]=2.0.4 [77]=2.0.4 [80]=1.8.2)
declare -A image # what the simulator reports for a file: the SHA-256 of all but its 48-byte header
for t in 38 79 77 80; do
  size=2048
  [ "$t" = 80 ] && size=8192
  "$pack" -o "$work/fw/$t.bin" --type "$t" --version "${target[$t]}" --size "$size" \
    --seed "$t" >/dev/null
  image[$t]=$(tail -c +49 "$work/fw/$t.bin" | sha256sum | cut -d' ' -f1)
done

type_of() { # simulator name -> type
  if [ "$1" = core ]; then echo 80; else echo "${1%%.*}"; fi
}

# Starts the simulator with its log at $1, on TCP port $2 or UDP ($3 = udp),
# more arguments after; sets simpid, and simudp (the program's UDP port).
start_sim() {
  local log=$1 port=$2 kind=$3
  shift 3
  if [ "$kind" = udp ]; then
    simudp=$((port + 1000))
    "$sim" --udp "$port" --udp-peer "127.0.0.1:$simudp" "${aircraft_args[@]}" --log "$log" "$@" \
      >/dev/null 2>&1 &
  else
    "$sim" --tcp "$port" "${aircraft_args[@]}" --log "$log" "$@" >/dev/null 2>&1 &
  fi
  simpid=$!
  for _ in $(seq 50); do grep -q listening "$log" 2>/dev/null && return 0; sleep 0.1; done
  grep -q '"event":"link"' "$log" 2>/dev/null
}

station() { # a settings folder as a first start leaves it
  rm -rf "$1" && mkdir -p "$1/home"
  printf '<busdevcfg><tunex><NodeId>1</NodeId></tunex></busdevcfg>\n' >"$1/busdevcfg.xml"
}

# The SHA-256 of the last image the simulator took for a device ("" none).
last_image() { # log, simulator name
  grep "\"dev\":\"$2\",\"event\":\"verify\"" "$1" | tail -1 |
    sed -n 's/.*"sha256":"\([0-9a-f]*\)".*/\1/p' || true
}
