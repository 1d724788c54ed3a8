#!/usr/bin/env bash
# Runs every benchmark program of a benchmark build, then the bundled example
# through the program itself: its wall time, CPU time and peak memory.
# BENCH_MIN_TIME (seconds per benchmark, default 0.2) and BENCH_REPETITIONS
# (default 1; the machine may be shared, so read medians of several) tune it.
set -euo pipefail
build=${1:-build-bench}
cd "$(dirname "$0")/.."
min_time=${BENCH_MIN_TIME:-0.2}
repetitions=${BENCH_REPETITIONS:-1}
found=0
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  args=(--benchmark_min_time="$min_time")
  if [ "$repetitions" -gt 1 ]; then
    args+=(--benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true)
  fi
  "$b" "${args[@]}"
done
[ "$found" -eq 1 ] || echo "no benchmarks built yet"

# Cycles and instructions of the interior sub-step, where the machine lets
# perf count them (virtual machines often do not).
if command -v perf >/dev/null 2>&1 &&
   perf stat -x, -e cycles true 2>&1 >/dev/null | grep -q '^[0-9]'; then
  echo "== perf stat: interior step of 60 s, one thread"
  perf stat -e cycles,instructions "$build/bench_engine" \
    --benchmark_filter='BM_Interior27Step60/threads:1' --benchmark_min_time="$min_time"
else
  echo "== perf stat: hardware counters are not available on this machine"
fi

# The whole bundled example (two batches of the build's batch size).
if [ -x "$build/kwd-footprint" ] && [ -x "$build/kwd_make_example" ]; then
  example="$build/example"
  rm -rf "$example"
  "$build/kwd_make_example" --folder "$example" ${BENCH_EXAMPLE_ARGS:-} >/dev/null
  tra=$(cd "$example" && pwd)/KWDExample.tra
  echo "== whole example ${BENCH_EXAMPLE_ARGS:-(default grid)}: $tra"
  printf '1\n%s\n\n\n' "$tra" |
    /usr/bin/time -f 'wall %e s, user %U s, system %S s, peak memory %M KiB' \
      "$build/kwd-footprint" >"$example/console.txt"
  # The run's own summary.
  sed -n '/^Simulation finished/,/^Total amount of particles simulated/p' "$example/console.txt"
fi
