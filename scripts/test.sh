#!/usr/bin/env bash
# Installs what is missing (as root), builds, and runs every test inside a
# private loopback-only network namespace: the unit tests of a gcc build with
# warnings as errors, then the unit tests again and every fuzzer of a clang
# build with AddressSanitizer and UBSan.
#
#   ./scripts/test.sh            everything
#   TOLVANE_SKIP_ASAN=1 ...      only the gcc build (quicker, for local work)
#   TOLVANE_FUZZ_SECONDS=N ...   run each fuzzer N seconds (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
fuzz_seconds=${TOLVANE_FUZZ_SECONDS:-20}

asan=1
if [ "${TOLVANE_SKIP_ASAN:-}" = "1" ]; then
  asan=0
elif ! command -v clang++ >/dev/null; then
  echo "WARNING: clang++ not found: sanitizer build and fuzzers skipped" >&2
  asan=0
fi

echo "== gcc build (build/) =="
cmake -S . -B build -G Ninja -DTOLVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"

# The sanitizer build compiles while the gcc build's tests run, at the lowest
# priority: those tests mostly wait on the simulators' clocks, and a niced
# compiler takes only the processor time they leave.
asan_pid=""
if [ "$asan" = 1 ]; then
  echo "== clang sanitizer and fuzzer build (build-asan/), in the background: build-asan.log =="
  CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja \
    -DTOLVANE_WERROR=ON -DTOLVANE_SANITIZE=ON -DTOLVANE_FUZZ=ON \
    -DTOLVANE_BUILD_BENCH=OFF -DTOLVANE_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
  nice -n 19 cmake --build build-asan -j"$jobs" >build-asan.log 2>&1 &
  asan_pid=$!
  trap '[ -n "$asan_pid" ] && kill "$asan_pid" 2>/dev/null || true' EXIT
fi

scripts/netns-run.sh ctest --test-dir build --output-on-failure -j"$jobs" -L unit

echo "== Debian package (build/) =="
# The package must hold a runnable installation: unpack it and start the
# command-line program from there.
rm -f build/tolvane_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/tolvane_*.deb)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg -x "$deb" "$unpacked"
(cd "$unpacked/usr/lib/tolvane" && ./tolvane-cli --help >/dev/null)
"$unpacked/usr/bin/tolvane-cli" --help >/dev/null
echo "$deb: unpacks and runs"

echo "== Package lint (build/) =="
# What a Debian user's own tools say about the package: no lintian error and
# no finding outside cmake/packaging/lint-allowed.txt (each explained in the
# README), manual pages that render without a warning and name every option
# and exit code --help prints, a valid desktop entry and AppStream record,
# and a bash completion offering the options --help lists.
(
  tools=()
  command -v lintian >/dev/null || tools+=(lintian)
  command -v appstreamcli >/dev/null || tools+=(appstream)
  command -v desktop-file-validate >/dev/null || tools+=(desktop-file-utils)
  command -v man >/dev/null || tools+=(man-db)
  if [ ${#tools[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq "${tools[@]}" >/dev/null \
      || { apt-get update -qq && apt-get install -y -qq "${tools[@]}" >/dev/null; }
  fi
  deb=$(ls build/tolvane_*.deb)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  root=$work/root
  dpkg -x "$deb" "$root"
  problems=()

  # Findings come from the output; an exit code other than 0 means no verdict.
  rc=0
  timeout 120 lintian --fail-on none --tag-display-limit 0 "$deb" >"$work/lintian" 2>/dev/null || rc=$?
  [ $rc -eq 0 ] || problems+=("lintian did not finish (exit $rc)")
  sed -n 's/^\([EW]\): [^:]*: /lintian \1: /p' "$work/lintian" >"$work/findings"
  timeout 60 appstreamcli validate-tree --no-net "$root" >"$work/appstream" 2>&1 || true
  sed -n 's/^ *\([EWIU]\): [^ ]*: /appstream \1: /p' "$work/appstream" >>"$work/findings"
  timeout 60 desktop-file-validate "$root"/usr/share/applications/*.desktop 2>&1 \
    | sed "s|^$root/|desktop-file-validate |" >>"$work/findings" || true
  for page in "$root"/usr/share/man/man1/*.gz; do
    MANWIDTH=80 timeout 30 man --warnings -l "$page" 2>&1 >/dev/null \
      | sed "s|^|man ${page##*/}: |" >>"$work/findings" || true
  done
  grep -v -e '^#' -e '^$' cmake/packaging/lint-allowed.txt >"$work/allowed"
  while IFS= read -r finding; do
    case $finding in
      "lintian E: "*) problems+=("$finding") ;;
      *) grep -qxF -e "$finding" "$work/allowed" || problems+=("$finding (not in lint-allowed.txt)") ;;
    esac
  done <"$work/findings"
  while IFS= read -r allowed; do
    grep -qxF -e "$allowed" "$work/findings" || echo "note: no longer seen, drop it from lint-allowed.txt: $allowed"
  done <"$work/allowed"

  # The manual page and the completion against what the program itself says.
  help=$("$root/usr/bin/tolvane-cli" --help)
  options=$(sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z-]*\).*/\2/p' <<<"$help")
  codes=$(sed -n '/^Exit codes:/,/^$/s/^  \([0-9]\{1,3\}\)  .*/\1/p' <<<"$help")
  [ -n "$options" ] && [ -n "$codes" ] || problems+=("no options or exit codes read from tolvane-cli --help")
  page=$(LC_ALL=C MANWIDTH=200 man -l "$root/usr/share/man/man1/tolvane-cli.1.gz" 2>/dev/null | sed 's/.\x08//g')
  for option in $options; do
    grep -qE -e "^ {7}(-[a-z], )?$option( |$)" <<<"$page" || problems+=("tolvane-cli.1: no entry for $option")
  done
  for option in $(sed -nE 's/^ {7}(-[a-z], )?(--[a-z-]+).*/\2/p' <<<"$page"); do
    grep -qxF -e "$option" <<<"$options" || problems+=("tolvane-cli.1: $option is not in --help")
  done
  for code in $codes; do
    grep -qE -e "^ {7}$code(,| |$)" <<<"$page" || problems+=("tolvane-cli.1: no entry for exit code $code")
  done
  completion=$root/usr/share/bash-completion/completions/tolvane-cli
  complete_cli() {
    bash --norc --noprofile -c 'source "$1"; COMP_WORDBREAKS=$2; COMP_LINE="tolvane-cli $3"
      COMP_POINT=${#COMP_LINE}; _tolvane_cli; echo "${COMPREPLY[*]}"' \
      _ "$completion" $' \t\n"\'><=;|&(:' "$1"
  }
  expect_completion() {
    local got
    got=$(complete_cli "$1")
    [ "$got" = "$2" ] || problems+=("completion of 'tolvane-cli $1': '$got', expected '$2'")
  }
  expect_completion "--" "$(echo $options)"
  expect_completion "--br" "--branch"
  expect_completion "--branch " "stable dev custom"
  expect_completion "--link s" "serial:"
  expect_completion "--link=t" "tcp:"
  expect_completion "--list --up" ""

  if [ ${#problems[@]} -gt 0 ]; then
    printf 'package lint: %s\n' "${problems[@]}" >&2
    exit 1
  fi
  echo "$deb: lintian, man, desktop-file-validate, appstreamcli and the completion agree"
)

# ---- The package as a person meets it -------------------------------------------
# Installs the package, and as an ordinary user runs tolvane-cli, starts
# Tolvane from its menu entry against the aircraft simulator, applies link
# settings through the form and finds them in ~/.config/tolvane; then removes
# the package. Root only (it installs, removes and adds a user); CI's fresh
# machine is one. TOLVANE_SKIP_PERSON_TEST=1 skips it.
echo "== The package installed, used by an ordinary user, removed (build/) =="
if [ "${TOLVANE_SKIP_PERSON_TEST:-}" = "1" ]; then
  echo "TOLVANE_SKIP_PERSON_TEST=1: skipped"
elif [ "$(id -u)" -ne 0 ]; then
  echo "not root: skipped (scripts/package-person-test.sh installs the package and adds a user)"
else
  BUILD_DIR=build scripts/package-person-test.sh "$(ls build/tolvane_*.deb)"
fi
# ---- end of the package as a person meets it -------------------------------------

if [ "$asan" = 0 ]; then
  echo "sanitizer build and fuzzers skipped"
  exit 0
fi

echo "== clang sanitizer and fuzzer build (build-asan/): finishing =="
if ! wait "$asan_pid"; then
  asan_pid=""
  tail -n 60 build-asan.log
  exit 1
fi
asan_pid=""
# Done already, or it says what failed.
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:suppressions=$PWD/scripts/asan.supp}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The crash sweep's and the bad line's samples kill and restart the programs
# to test recovery, which the gcc build's run covers; their minutes are spent
# on the rest here.
scripts/netns-run.sh ctest --test-dir build-asan --output-on-failure -j"$jobs" -L 'unit|fuzz' \
  -E '^(crash_sweep_sample|chaos_seeds_sample)$'
