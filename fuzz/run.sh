#!/usr/bin/env bash
# Runs every fuzz target of a KWD_FUZZ build for FUZZ_SECONDS seconds each
# (default 60) and prints per target the executions, the time and the
# findings. Usage: fuzz/run.sh <build folder> [target ...]
# (targets: container zdx zdi tra numbers answers export). Each target grows its own working
# corpus in <build>/fuzz/work/<target> from the seeds in fuzz/corpus/<target>;
# a finding (crash, sanitizer report, hang over 10 s, allocation beyond the
# limits) is kept in <build>/fuzz/findings/<target>/ and ends that target's
# run. The exit status is 1 when any target had a finding.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz/run.sh <build folder> [target ...]}
shift
seconds=${FUZZ_SECONDS:-60}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(container zdx zdi tra numbers answers export)

declare -A dicts=([container]=container [zdx]=container [tra]=container [zdi]=zdi [numbers]=numbers
               [answers]=numbers [export]=export)
summary=()
failed=0
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "missing $exe (build with KWD_FUZZ=ON)"; exit 2; }
  work="$build/fuzz/work/$t" findings="$build/fuzz/findings/$t" log="$build/fuzz/$t.log"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$t: ${seconds}s"
  marker="$build/fuzz/.start_$t"
  touch "$marker"
  start=$(date +%s)
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
    -dict="fuzz/${dicts[$t]}.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    "$work" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  took=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  found=$(find "$findings" -type f -newer "$marker" | wc -l)
  if [ $rc -ne 0 ]; then
    failed=1
    grep -E "ERROR|SUMMARY|Test unit written|deadly|timeout|out-of-memory|malloc" "$log" | head -8
  fi
  summary+=("$(printf '%-10s executions %10s  time %4ss  findings %s' "$t" "${runs:-?}" "$took" "$found")")
done
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
exit $failed
