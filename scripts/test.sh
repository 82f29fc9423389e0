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

echo "== gcc build (build/) =="
cmake -S . -B build -G Ninja -DTOLVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
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

if [ "${TOLVANE_SKIP_ASAN:-}" = "1" ]; then
  echo "TOLVANE_SKIP_ASAN=1: sanitizer build and fuzzers skipped"
  exit 0
fi
if ! command -v clang++ >/dev/null; then
  echo "WARNING: clang++ not found: sanitizer build and fuzzers skipped" >&2
  exit 0
fi

echo "== clang sanitizer and fuzzer build (build-asan/) =="
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja \
  -DTOLVANE_WERROR=ON -DTOLVANE_SANITIZE=ON -DTOLVANE_FUZZ=ON \
  -DTOLVANE_BUILD_BENCH=OFF -DTOLVANE_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:suppressions=$PWD/scripts/asan.supp}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scripts/netns-run.sh ctest --test-dir build-asan --output-on-failure -j"$jobs" -L 'unit|fuzz'
