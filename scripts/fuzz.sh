#!/usr/bin/env bash
# Runs every fuzz target of the linux-fuzz preset for a bounded time and fails
# on any crash, leak or sanitizer report.
#   bash scripts/fuzz.sh                 about a minute per target
#   bash scripts/fuzz.sh --time 14400    four hours per target
#   --jobs N                             N targets at a time (each uses one core)
# Each target starts from its seed corpus in fuzz/corpus/<target> and grows a
# working corpus outside the tree. A failing input is kept under the run's
# directory; copy it into fuzz/corpus/<target> once the fault is fixed, so it
# stays a regression input.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
work=""
parallel=1
while [ $# -gt 0 ]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --jobs) parallel=$2; shift 2 ;;
    *) echo "usage: $0 [--time SECONDS] [--work DIRECTORY] [--jobs N]" >&2; exit 2 ;;
  esac
done

targets=(phone_stream exports settings dial_string)
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz --target "${targets[@]/%/_fuzzer}" -- -j"$(nproc)"

[ -n "$work" ] || work=$(mktemp -d /tmp/k482-fuzz.XXXXXX)
mkdir -p "$work"
echo "== fuzzing ${seconds}s per target, working corpora and failures in $work"

# The targets keep their settings store and ports in a directory of their own,
# in memory where the system has one: the share of executions that replaces the
# settings file then does not wait for the disk.
scratch_parent=$work
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
scratch=$(mktemp -d "$scratch_parent/k482-fuzz-tmp.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# AddressSanitizer holds 16 MB of freed memory back from reuse instead of 256:
# still hundreds of executions' worth or more, so a use after free is caught
# as before, but an allocation no longer lands on memory gone cold or handed back
# to the system (each execution then waited for page faults). Five frames of
# each allocation's stack instead of 30: LeakSanitizer needs two to report a
# leak at all; a failing input run again by itself gives the whole stacks.
# Options set by the caller come after these and win.
export ASAN_OPTIONS="quarantine_size_mb=16:allocator_release_to_os_interval_ms=-1:malloc_context_size=5${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# One target: its log in $work/<target>.log, its summary row in $work/<target>.row.
fuzz_one() {
  local target=$1 corpus=$work/$1 log=$work/$1.log tmp=$scratch/$1 result runs rate cov ft cpu TIMEFORMAT='%U %S'
  mkdir -p "$corpus" "$work/failures" "$tmp"
  if { time TMPDIR=$tmp build/linux-fuzz/fuzz/${target}_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$work/failures/$target-" -timeout=25 -rss_limit_mb=4096 \
       "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; } 2>"$work/$target.time"; then
    result=clean
  else
    result=FAILED
  fi
  rm -rf "$tmp"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # Processor time (user and system) per execution, in microseconds.
  cpu=$(awk -v runs="${runs:-0}" '{ if (runs > 0) printf "%.1f", ($1 + $2) * 1e6 / runs }' "$work/$target.time")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  # Coverage as libFuzzer counts it at the end: edges (cov) and features (ft).
  read -r cov ft < <(sed -n 's/.*DONE *cov: \([0-9]*\) ft: \([0-9]*\).*/\1 \2/p' "$log" | tail -1) || true
  printf '%-14s %12s %8s %8s %6s %7s  %s\n' "$target" "${runs:-?}" "${rate:-?}" "${cpu:-?}" "${cov:-?}" "${ft:-?}" \
    "$result" >"$work/$target.row"
}

for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "== fuzz $target"
  fuzz_one "$target" &
done
wait
status=0
for target in "${targets[@]}"; do
  if ! grep -q ' clean$' "$work/$target.row"; then
    status=1
    echo "== $target failed:"
    grep -E "ERROR|SUMMARY|Test unit written" "$work/$target.log" | head -20 || true
  fi
done

echo
echo "== fuzz summary (${seconds}s per target)"
printf '  %-14s %12s %8s %8s %6s %7s  %s\n' target executions exec/s cpu-us cov ft result
for target in "${targets[@]}"; do printf '  %s' "$(cat "$work/$target.row")"; echo; done
exit $status
