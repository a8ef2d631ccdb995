#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what a fresh Debian 12
# machine lacks, builds every preset and runs every suite (native, under the
# sanitizers, the 32-bit core under qemu-i386, and the Windows x64 build under
# wine64; the x86 build's tables are checked), then every fuzz target for a
# minute, the benchmarks once briefly and the README's by-hand walkthrough.
# Ends with each step's summary and time.
#
# The builds need both cores; the suites mostly wait on the serial line's
# pacing. So each preset's suites run while the next preset builds, and the
# Windows suites run side by side, each test in a Wine prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine wine64 python3 openssl
          xvfb xauth x11-apps imagemagick clang libclang-rt-14-dev libbenchmark-dev g++-multilib qemu-user)
bash scripts/install-packages.sh "${packages[@]}"

# Throwaway Wine prefixes for this run only: the Windows suites' slots add
# -slot<n> to this name (scripts/wine-slot.sh).
scratch=$(mktemp -d)
export K482_WINEPREFIX=$scratch/wineprefix
background=()
cleanup() {
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  for prefix in "$scratch"/wineprefix*/; do
    [ -d "$prefix" ] && WINEPREFIX=${prefix%/} wineserver -k 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

jobs=$(nproc)
# Suites that mostly sleep on the wire run more tests than there are cores.
test_jobs=$((jobs * 2))
summary=()
status=0
clock() {
  local seconds=$1
  echo "$((seconds / 60)) min $((seconds % 60)) s"
}

build() {
  local preset=$1 start=$SECONDS
  shift
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@" -- -j"$jobs"
  summary+=("build $preset: $(clock $((SECONDS - start)))")
}

# A preset's suites in the background, while the next build goes on; their log
# is shown when they are waited for.
start_tests() {
  local preset=$1 parallel=$2
  (
    start=$SECONDS
    if ctest --preset "$preset" -j"$parallel" >"$scratch/ctest-$preset.log" 2>&1; then
      result=passed
    else
      result=FAILED
    fi
    echo "$preset: $(grep -E 'tests passed|No tests were found' "$scratch/ctest-$preset.log" | tail -1) [$result]" \
      "$(clock $((SECONDS - start)))" >"$scratch/result-$preset"
  ) &
  background+=($!)
  eval "tests_$(tr - _ <<<"$preset")=$!"
}

wait_tests() {
  local preset=$1 pid_name
  pid_name=tests_$(tr - _ <<<"$preset")
  wait "${!pid_name}" || true
  echo "== test $preset"
  cat "$scratch/ctest-$preset.log"
  summary+=("$(cat "$scratch/result-$preset")")
  grep -q '\[passed\]' "$scratch/result-$preset" || status=1
}

# A step in the foreground, its output as it comes: sets step_log, step_result
# and step_time for its summary line.
step_log=$scratch/step.log
step() {
  local start=$SECONDS
  if "$@" 2>&1 | tee "$step_log"; then step_result=passed; else step_result=FAILED; status=1; fi
  step_time=$(clock $((SECONDS - start)))
}

# linux first: the other presets' phone suites run beside its phonesim.
# windows-x86 before windows-x64: the x64 package carries its 32-bit UI module.
build linux
start_tests linux "$test_jobs"
build windows-x86
build windows-x64
wait_tests linux
start_tests windows-x64 "$(sed -n 's/^K482_WINE_SLOTS:STRING=//p' build/windows-x64/CMakeCache.txt)"
build linux-asan
wait_tests windows-x64
start_tests linux-asan "$test_jobs"
build linux-tsan
wait_tests linux-asan
start_tests linux-tsan "$test_jobs"
build linux-x86
start_tests linux-x86 "$jobs"
start_tests windows-x86 "$jobs"
# The fuzz targets build while the last suites run; they fuzz once those are done.
build linux-fuzz --target phone_stream_fuzzer exports_fuzzer settings_fuzzer dial_string_fuzzer
wait_tests linux-x86
wait_tests windows-x86
wait_tests linux-tsan

# Every fuzz target for about a minute from its seed corpus, two at a time.
step bash scripts/fuzz.sh --work "$scratch/fuzz" --jobs "$jobs"
summary+=("fuzz: $(grep -cE ' clean$' "$step_log" || true) of 4 targets clean [$step_result] $step_time")

# The benchmarks once, briefly, in the Linux build: a smoke test, never a verdict on time.
step bash bench/run --smoke --build-dir build/linux
summary+=("bench smoke: $(grep -c '^| ' "$step_log" || true) table rows [$step_result] $step_time")

# The README's by-hand walkthrough, its commands as written.
step bash scripts/walkthrough.sh
summary+=("walkthrough: $(grep -E '^walkthrough:' "$step_log" | tail -1) [$step_result] $step_time")

echo
echo "== summary"
printf '  %s\n' "${summary[@]}"
echo "  total: $(clock $SECONDS)"
exit $status
