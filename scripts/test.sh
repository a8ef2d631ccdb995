#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what a fresh Debian 12
# machine lacks, builds every preset and runs every suite (native, under the
# sanitizers, and the Windows x64 build under wine64; the x86 build is
# link-checked), then every fuzz target for a minute and the benchmarks once
# briefly. Ends with each run's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine wine64 python3 openssl
          xvfb xauth x11-apps imagemagick clang libclang-rt-14-dev libbenchmark-dev)
bash scripts/install-packages.sh "${packages[@]}"

# A throwaway Wine prefix for this run only.
scratch=$(mktemp -d)
export K482_WINEPREFIX=$scratch/wineprefix
cleanup() {
  WINEPREFIX=$K482_WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# windows-x86 first: the x64 package carries its 32-bit UI module.
presets=(linux linux-asan linux-tsan windows-x86 windows-x64)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$jobs"
done

summary=()
status=0
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
  summary+=("$preset: $(grep -E 'tests passed|No tests were found' "$log" | tail -1) [$result]")
done

# Every fuzz target for about a minute from its seed corpus.
if bash scripts/fuzz.sh --work "$scratch/fuzz" 2>&1 | tee "$scratch/fuzz.log"; then
  result=passed
else
  result=FAILED
  status=1
fi
summary+=("fuzz: $(grep -cE ' clean$' "$scratch/fuzz.log" || true) of 4 targets clean [$result]")

# The benchmarks once, briefly, in the Linux build: a smoke test, never a verdict on time.
if bash bench/run --smoke --build-dir build/linux 2>&1 | tee "$scratch/bench.log"; then
  result=passed
else
  result=FAILED
  status=1
fi
summary+=("bench smoke: $(grep -c '^| ' "$scratch/bench.log" || true) table rows [$result]")

echo
echo "== summary"
printf '  %s\n' "${summary[@]}"
exit $status
