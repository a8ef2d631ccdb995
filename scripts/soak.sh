#!/usr/bin/env bash
# The soak by hand: mixed calls with faults on the line, played by tsphost
# against phonesim, and the figures at the end (calls, faults, requests, memory,
# lock time-outs).
#   bash scripts/soak.sh                        10,000 call cycles on Linux
#   bash scripts/soak.sh --calls 300 --seed 7   a shorter run; the same seed replays the same run
#   bash scripts/soak.sh --wine --calls 1000    the Windows x64 module under wine64
#   --keep DIR keeps the scenario, the outputs, the phone's log and the trace.
set -euo pipefail
cd "$(dirname "$0")/.."

calls=10000
seed=1
wine=0
keep=()
while [ $# -gt 0 ]; do
  case "$1" in
    --calls) calls=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --wine) wine=1; shift ;;
    --keep) keep=(--keep "$2"); shift 2 ;;
    *) echo "usage: $0 [--calls N] [--seed S] [--wine] [--keep DIR]" >&2; exit 2 ;;
  esac
done

jobs=$(nproc)
cmake --preset linux >/dev/null
cmake --build --preset linux --target k482tsp tsphost phonesim soakgen -- -j"$jobs" >/dev/null
host=build/linux
if [ $wine -eq 1 ]; then
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 --target k482tsp tsphost -- -j"$jobs" >/dev/null
  exec bash tests/soak/run_soak.sh --calls "$calls" --seed "$seed" "${keep[@]}" \
    --wine scripts/wine-run.sh build/windows-x64/wineprefix build/windows-x64/tools/tsphost/tsphost.exe \
    build/windows-x64/provider/k482tsp.tsp "$host/tools/phonesim/phonesim" "$host/tests/soak/soakgen"
fi
exec bash tests/soak/run_soak.sh --calls "$calls" --seed "$seed" "${keep[@]}" \
  --native "$host/tools/tsphost/tsphost" "$host/provider/k482tsp.so" "$host/tools/phonesim/phonesim" \
  "$host/tests/soak/soakgen"
