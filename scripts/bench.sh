#!/usr/bin/env bash
# Runs the benchmarks (all of them, or those named) from BUILD_DIR (default
# build/) and prints their BENCH lines. Not part of scripts/test.sh: the
# sweep takes many minutes, and timing figures mean something only on a
# quiet machine. Everything runs inside a loopback-only network namespace.
#
#   scripts/bench.sh                      every benchmark that was built
#   scripts/bench.sh bench_run_overhead   just those named
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
all=(bench_protocol bench_pty_pacing bench_looper bench_history bench_unzip bench_upgrade
  bench_upgrade_gui bench_fleet bench_run_overhead)
[ $# -gt 0 ] && all=("$@")

failed=()
for b in "${all[@]}"; do
  exe="$build/bench/$b"
  if [ ! -x "$exe" ]; then
    echo "== $b: not built, skipped" >&2
    continue
  fi
  echo "== $b" >&2
  if ! QT_QPA_PLATFORM=offscreen scripts/netns-run.sh "$exe"; then
    failed+=("$b")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
