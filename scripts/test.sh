#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what a fresh Debian 12
# machine lacks, builds every preset and runs every suite (native, under the
# sanitizers, the 32-bit core under qemu-i386, and the Windows x64 build under
# wine64; the x86 build's tables are checked), then every fuzz target for a
# minute, the benchmarks once briefly and the README's by-hand walkthrough.
# Ends with each step's summary and time.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine wine64 python3 openssl
          xvfb xauth x11-apps imagemagick clang libclang-rt-14-dev libbenchmark-dev g++-multilib qemu-user)
bash scripts/install-packages.sh "${packages[@]}"

# A throwaway Wine prefix for this run only.
scratch=$(mktemp -d)
export K482_WINEPREFIX=$scratch/wineprefix
cleanup() {
  WINEPREFIX=$K482_WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# linux first: linux-x86 and the Windows builds run their phone suites beside
# its phonesim. windows-x86 before windows-x64: the x64 package carries its
# 32-bit UI module.
presets=(linux linux-asan linux-tsan linux-x86 windows-x86 windows-x64)
jobs=$(nproc)
summary=()
status=0
# Each step's time, for the summary.
step_start=$SECONDS
took=
timed() {
  took="$(( (SECONDS - step_start) / 60 )) min $(( (SECONDS - step_start) % 60 )) s"
  step_start=$SECONDS
}

for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$jobs"
  timed; summary+=("build $preset: $took")
done

for preset in "${presets[@]}"; do
  echo "== test $preset"
  log=$scratch/ctest-$preset.log
  # The Windows suites share one Wine registry and serial ports: one at a time.
  parallel=$jobs
  [[ $preset == windows-* ]] && parallel=1
  if ctest --preset "$preset" -j"$parallel" 2>&1 | tee "$log"; then
    result=passed
  else
    result=FAILED
    status=1
  fi
  timed; summary+=("$preset: $(grep -E 'tests passed|No tests were found' "$log" | tail -1) [$result] $took")
done

# Every fuzz target for about a minute from its seed corpus.
if bash scripts/fuzz.sh --work "$scratch/fuzz" 2>&1 | tee "$scratch/fuzz.log"; then
  result=passed
else
  result=FAILED
  status=1
fi
timed; summary+=("fuzz: $(grep -cE ' clean$' "$scratch/fuzz.log" || true) of 4 targets clean [$result] $took")

# The benchmarks once, briefly, in the Linux build: a smoke test, never a verdict on time.
if bash bench/run --smoke --build-dir build/linux 2>&1 | tee "$scratch/bench.log"; then
  result=passed
else
  result=FAILED
  status=1
fi
timed; summary+=("bench smoke: $(grep -c '^| ' "$scratch/bench.log" || true) table rows [$result] $took")

# The README's by-hand walkthrough, its commands as written.
if bash scripts/walkthrough.sh 2>&1 | tee "$scratch/walkthrough.log"; then
  result=passed
else
  result=FAILED
  status=1
fi
timed; summary+=("walkthrough: $(grep -E '^walkthrough:' "$scratch/walkthrough.log" | tail -1) [$result] $took")

echo
echo "== summary"
printf '  %s\n' "${summary[@]}"
echo "  total: $((SECONDS / 60)) min $((SECONDS % 60)) s"
exit $status
