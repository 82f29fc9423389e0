#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # sh -c scripts take their own $1; helpers run from traps and waits
# The Debian package as a person meets it. Installs the package, makes an
# ordinary user and, as that user: asks tolvane-cli for its help and its
# checks, starts Tolvane from its menu entry on a private X display against
# the bundled aircraft simulator, applies link settings through the
# link-settings form, and finds them in ~/.config/tolvane/sysconfig.xml (and
# the aircraft asked for its versions over them). Then removes the package:
# nothing is left under /usr/lib/tolvane, the user's folder stays.
#
#   scripts/package-person-test.sh [PACKAGE.deb]   default: $BUILD_DIR/tolvane_*.deb
#   BUILD_DIR=build-x ...                          where the simulator was built (build)
#
# Meant for a machine of its own (CI's fresh Debian 12): it runs as root,
# installs what it needs with apt-get (xvfb, xdotool and the package's
# dependencies, over the machine's network) and refuses to run where tolvane
# is installed already. Everything the user runs runs in a private network
# namespace holding only loopback. On failure the last picture of the window
# is left in $BUILD_DIR/package-person-test.png.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"

# Ports the form accepts (it keeps numbers up to 32767); the namespace is
# new, so nothing else holds them.
sim_port=23456
local_port=24567
title='^Tolvane Firmware Upgrade$' # WndAppName in English: the dictionary was found

fail() {
  echo "package-person-test: FAILED: $*" >&2
  exit 1
}
step() { echo "== $*"; }

# ---- inside the private network namespace, as root -------------------------
if [ "${1:-}" = "--inside" ]; then
  : "${person:?}" "${home:?}" "${work:?}"
  ip link set lo up
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix

  # As the user, with a login's environment and nothing of ours.
  as_user() {
    runuser -u "$person" -- env -i HOME="$home" USER="$person" LOGNAME="$person" \
      SHELL=/bin/bash PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"
  }
  x() { as_user DISPLAY="$display" "$@"; }

  # Waits up to $1 tenths of a second for the command after it to succeed.
  wait_until() {
    local tries=$1 i
    shift
    for ((i = 0; i < tries; i++)); do
      "$@" >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    return 1
  }
  # The user's programs by their process ids, each written by the shell that
  # then becomes the program; the last started is stopped first.
  pids=()
  stop_all() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
      kill -TERM "${pids[i]}" 2>/dev/null || true
      timeout 10 tail --pid="${pids[i]}" -f /dev/null 2>/dev/null || kill -KILL "${pids[i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
  }
  # Runs the rest of the line as the user in the background; $1 names its
  # pid file in $work.
  start_as_user() {
    local name=$1
    shift
    rm -f "$work/$name.pid"
    as_user sh -c 'echo $$ >"$0"; exec "$@"' "$work/$name.pid" "$@" &
    wait_until 50 test -s "$work/$name.pid" || fail "$name did not start"
    pids+=("$(cat "$work/$name.pid")")
  }
  trap stop_all EXIT
  trap 'exit 143' TERM INT

  picture() {
    [ -n "${window:-}" ] && [ -x "$work/tolvane-xshot" ] || return 0
    x "$work/tolvane-xshot" "$work/window.png" "$window" >/dev/null 2>&1 || true
  }
  fail_with_picture() {
    picture
    echo "Tolvane's output (last lines):" >&2
    tail -n 20 "$work/tolvane.log" >&2 2>/dev/null || true
    fail "$@"
  }

  step "tolvane-cli --help, as $person in $home"
  as_user sh -c 'cd && exec tolvane-cli --help' >"$work/help.txt" 2>&1 \
    || { cat "$work/help.txt" >&2; fail "tolvane-cli --help"; }
  grep -q '^Usage:' "$work/help.txt" || fail "tolvane-cli --help printed no usage"
  if grep -q -- '--doctor' "$work/help.txt"; then
    step "tolvane-cli --doctor"
    rc=0
    as_user sh -c 'cd && exec tolvane-cli --doctor' >"$work/doctor.txt" 2>&1 || rc=$?
    sed 's/^/   /' "$work/doctor.txt"
    # 6: something blocks an upgrade on this machine (no serial port, no
    # network in the namespace); the checks themselves ran.
    [ $rc -eq 0 ] || [ $rc -eq 6 ] || fail "tolvane-cli --doctor ended with $rc"
    grep -qF "$home/.config/tolvane" "$work/doctor.txt" \
      || fail "tolvane-cli --doctor does not name $home/.config/tolvane"
  else
    echo "   (tolvane-cli --help lists no --doctor: not run)"
  fi
  step "the user's folder, made from the installation's defaults on first use"
  for f in sysconfig.xml busdevcfg.xml; do
    cmp -s "/usr/lib/tolvane/$f" "$home/.config/tolvane/$f" \
      || fail "$home/.config/tolvane/$f is not the installed default"
  done
  [ "$(stat -c %U "$home/.config/tolvane/sysconfig.xml")" = "$person" ] \
    || fail "$home/.config/tolvane/sysconfig.xml does not belong to $person"

  step "a private X display and the aircraft simulator on 127.0.0.1:$sim_port, as $person"
  start_as_user xvfb sh -c 'exec Xvfb -screen 0 1280x800x24 -nolisten tcp -noreset -displayfd 3 3>"$1/display" 2>"$1/xvfb.log"' \
    _ "$work"
  wait_until 100 grep -q '^[0-9]' "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  display=":$(head -n1 "$work/display")"
  start_as_user sim sh -c 'cd "$1" && exec ./tolvane-aircraft-sim --scenario default.json --udp "$2" \
      --udp-peer "127.0.0.1:$3" --erase-ms 200 --log aircraft.jsonl 2>aircraft.err' \
    _ "$work" "$sim_port" "$local_port"
  wait_until 100 grep -q '"state":"listening"' "$work/aircraft.jsonl" \
    || fail "the aircraft simulator did not start: $(cat "$work/aircraft.err")"

  desktop=$(dpkg -L tolvane | grep '^/usr/share/applications/.*\.desktop$' | head -n1)
  [ -n "$desktop" ] || fail "the package holds no menu entry"
  # The Exec line without its field codes (%f, %U, ...).
  exec_line=$(sed -n 's/^Exec=//p' "$desktop" | head -n1 | sed 's/ %[a-zA-Z]//g')
  step "Tolvane from its menu entry ($desktop: $exec_line) on $display"
  start_as_user tolvane env DISPLAY="$display" sh -c 'cd && exec '"$exec_line"' >"$1/tolvane.log" 2>&1' \
    _ "$work"
  find_window() { window=$(x xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [ -n "$window" ]; }
  wait_until 600 find_window "$title" || fail_with_picture "no window titled '$title' within 60 s"
  main=$window
  eval "$(x xdotool getwindowgeometry --shell "$main")"
  echo "   window $main, ${WIDTH}x${HEIGHT}"

  # The search over the default settings finds nothing on loopback and asks
  # whether to retry.
  box=""
  find_box() { box=$(x xdotool search --onlyvisible --name '^Information$' 2>/dev/null | head -n1) && [ -n "$box" ]; }
  wait_until 900 find_box || fail_with_picture "the search over the default settings never ended"
  echo "   the search over the default settings found nothing: Cancel"
  # The box's Cancel button: its second button, lower right.
  eval "$(x xdotool getwindowgeometry --shell "$box")"
  x xdotool mousemove --window "$box" $((WIDTH - 67)) $((HEIGHT - 33)) sleep 0.3 click 1
  gone() { ! x xdotool search --onlyvisible --name '^Information$'; }
  wait_until 50 gone || fail_with_picture "the box did not close"
  window=$main

  step "link settings through the form: UDP to 127.0.0.1:$sim_port from local port $local_port"
  # The button at the top left; the form opens centred in the window with
  # its radios on top and the three UDP fields below, then the ON button,
  # each reached from the host field with Tab.
  eval "$(x xdotool getwindowgeometry --shell "$main")"
  cx=$((WIDTH / 2))
  cy=$((HEIGHT / 2))
  x xdotool mousemove --window "$main" 62 58 sleep 0.3 click 1 sleep 1
  x xdotool mousemove --window "$main" $((cx - 64)) $((cy - 56)) sleep 0.3 click 1 sleep 0.5
  x xdotool mousemove --window "$main" $((cx + 34)) $((cy - 25)) sleep 0.3 click 1 sleep 0.2 \
    key ctrl+a type --delay 30 127.0.0.1
  x xdotool key Tab sleep 0.2 key ctrl+a type --delay 30 "$sim_port"
  x xdotool key Tab sleep 0.2 key ctrl+a type --delay 30 "$local_port"
  x xdotool key Tab sleep 0.3 key space

  config="$home/.config/tolvane/sysconfig.xml"
  applied() {
    grep -q '<connection type="0">' "$config" && grep -q '<host>127.0.0.1</host>' "$config" \
      && grep -q "<hostport>$sim_port</hostport>" "$config" \
      && grep -q "<localPort>$local_port</localPort>" "$config"
  }
  wait_until 100 applied || { cat "$config" >&2; fail_with_picture "$config does not hold the settings applied"; }
  echo "   $config holds them"
  [ ! -e "$home/sysconfig.xml" ] || fail "a sysconfig.xml was written into $home"
  wait_until 300 grep -q '"cmd":"versionQuery"' "$work/aircraft.jsonl" \
    || fail_with_picture "the aircraft was never asked for its versions over the settings applied"
  echo "   over them Tolvane found the aircraft and asked for its versions"

  step "the window's close button"
  x xdotool mousemove --window "$main" $((WIDTH - 27)) 21 sleep 0.3 click 1
  closed() { ! x xdotool search --onlyvisible --name "$title"; }
  if wait_until 100 closed; then
    echo "   Tolvane closed"
  else
    echo "   WARNING: Tolvane did not close from its close button; it is stopped" >&2
  fi
  exit 0
fi

# ---- on the machine, as root ----------------------------------------------------
[ "$(id -u)" -eq 0 ] || fail "run as root: it installs the package and adds a user"
deb="${1:-}"
if [ -z "$deb" ]; then
  built=("$BUILD_DIR"/tolvane_*.deb)
  deb=${built[0]}
fi
[ -f "$deb" ] || fail "no package (build it with cpack, or name it)"
sim="$BUILD_DIR/tools/aircraft-sim/tolvane-aircraft-sim"
[ -x "$sim" ] || fail "missing $sim (did the build succeed?)"
if dpkg-query -W -f='${Status}' tolvane 2>/dev/null | grep -q 'installed$'; then
  fail "tolvane is installed on this machine already; this test installs and removes it itself"
fi

export DEBIAN_FRONTEND=noninteractive
need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xdotool >/dev/null || need+=(xdotool)
command -v ip >/dev/null || need+=(iproute2)
if [ ${#need[@]} -gt 0 ]; then
  step "installing ${need[*]}"
  apt-get install -y -qq "${need[@]}" >/dev/null \
    || { apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null; }
fi

person="tolvane-p$$"
home=""
work=$(mktemp -d)
installed=0
cleanup() {
  local rc=$?
  [ -f "$work/window.png" ] && cp "$work/window.png" "$BUILD_DIR/package-person-test.png" 2>/dev/null \
    && echo "the last picture of the window: $BUILD_DIR/package-person-test.png" >&2
  if [ $installed -eq 1 ] && dpkg-query -W -f='${Status}' tolvane 2>/dev/null | grep -q 'installed$'; then
    dpkg -r tolvane >/dev/null 2>&1 || true
  fi
  if id "$person" >/dev/null 2>&1; then
    # The throwaway user's own processes, should any have outlived the run.
    for pid in $(pgrep -u "$person" || true); do kill -KILL "$pid" 2>/dev/null || true; done
    for _ in $(seq 50); do
      pgrep -u "$person" >/dev/null || break
      sleep 0.1
    done
    userdel -r "$person" >/dev/null 2>&1 || echo "WARNING: userdel -r $person failed" >&2
  fi
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT

step "dpkg -i $deb"
installed=1
if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  echo "   dependencies missing: apt-get install -f"
  apt-get install -f -y -qq >>"$work/dpkg.log" 2>&1 \
    || { apt-get update -qq && apt-get install -f -y -qq >>"$work/dpkg.log" 2>&1; } \
    || { cat "$work/dpkg.log" >&2; fail "the package's dependencies could not be installed"; }
fi
dpkg-query -W -f='${Status}' tolvane | grep -q 'install ok installed' \
  || { cat "$work/dpkg.log" >&2; fail "tolvane is not installed after dpkg -i"; }

step "an ordinary user, $person"
useradd -m -s /bin/bash "$person"
home=$(getent passwd "$person" | cut -d: -f6)
# What the user runs from the build tree (the simulator, the picture taker)
# is copied where the user may read it.
chmod 755 "$work"
cp "$sim" tools/aircraft-sim/scenarios/default.json "$work/"
[ -x "$BUILD_DIR/tools/xshot/tolvane-xshot" ] && cp "$BUILD_DIR/tools/xshot/tolvane-xshot" "$work/"
chown -R "$person:" "$work"

export person home work
timeout 300 unshare -n "$0" --inside || fail "the user's part (above) failed or took over 300 s"

step "dpkg -r tolvane"
dpkg -r tolvane >"$work/dpkg-r.log" 2>&1 || { cat "$work/dpkg-r.log" >&2; fail "dpkg -r tolvane"; }
grep -i 'warning' "$work/dpkg-r.log" >&2 && fail "dpkg -r warned (above)"
[ ! -e /usr/lib/tolvane ] || fail "left behind under /usr/lib/tolvane: $(find /usr/lib/tolvane | head)"
for f in /usr/bin/tolvane /usr/bin/tolvane-cli; do
  [ ! -e "$f" ] || fail "left behind: $f"
done
grep -q "<localPort>$local_port</localPort>" "$home/.config/tolvane/sysconfig.xml" \
  || fail "the user's settings went with the package"
echo "   nothing left under /usr/lib/tolvane; $home/.config/tolvane stays"
echo "package-person-test: passed"
