#!/usr/bin/env bash
# Load, call and unload cycles of the provider module by hand, without the test
# suite's time-out, and the figures at the end (threads, handles, resident
# memory, heap bytes).
#   bash scripts/load-cycles.sh                 1000 cycles on Linux (dlopen and dlclose)
#   bash scripts/load-cycles.sh --cycles 200    fewer
#   bash scripts/load-cycles.sh --wine          the Windows x64 module under wine64 (LoadLibrary and FreeLibrary)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cycles=1000
wine=0
while [ $# -gt 0 ]; do
  case "$1" in
    --cycles) cycles=$2; shift 2 ;;
    --wine) wine=1; shift ;;
    *) echo "usage: $0 [--cycles N] [--wine]" >&2; exit 2 ;;
  esac
done

jobs=$(nproc)
cmake --preset linux >/dev/null
cmake --build --preset linux --target k482tsp phonesim reliability_load_tests -- -j"$jobs" >/dev/null
phonesim=$root/build/linux/tools/phonesim/phonesim
export K482_LOAD_CYCLES=$cycles
if [ $wine -eq 1 ]; then
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 --target reliability_load_tests -- -j"$jobs" >/dev/null
  # The test finds the module beside itself.
  cd build/windows-x64/tests/reliability
  exec bash "$root/tests/phone/run_with_phonesim.sh" "$phonesim" --wine "$root/scripts/wine-run.sh" \
    "$root/build/windows-x64/wineprefix" "$PWD/reliability_load_tests.exe"
fi
exec bash "$root/tests/phone/run_with_phonesim.sh" "$phonesim" --native \
  "$root/build/linux/tests/reliability/reliability_load_tests"
