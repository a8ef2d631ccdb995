#!/usr/bin/env bash
# The main job, from a fresh clone: builds the Linux provider, the TAPI host
# (tsphost) and the phone simulator (phonesim), starts the phone on a
# pseudo-terminal and plays tests/scenarios/demo.scenario: a call out that
# connects and is charged, then a call in, with every event shown as it
# happens. Afterwards a glimpse of the provider's trace, kavrtsp.log.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh cmake ninja-build g++ googletest

echo "== building the provider, tsphost and phonesim (preset linux)"
cmake --preset linux >/dev/null
cmake --build --preset linux --target k482tsp tsphost phonesim >/dev/null

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
echo "== the demo: tsphost plays TAPI, phonesim plays the phone and the network"
bash tests/scenarios/run_scenarios.sh --keep "$logs" --native build/linux/tools/tsphost/tsphost \
  build/linux/provider/k482tsp.so build/linux/tools/phonesim/phonesim tests/scenarios/demo.scenario

echo
echo "== the provider's trace (kavrtsp.log): the first call's phone protocol"
tr -d '\r' <"$logs/demo.kavrtsp.log" |
  grep -E '^ *(sending [0-9]+ Bytes|reading [0-9]+ Bytes|Reading |TAPI-Line Event: .*<LINE_CALLSTATE> <LINECALLSTATE_)' |
  sed -n '1,24p'
echo "   ... $(wc -l <"$logs/demo.kavrtsp.log") lines in all"
echo
echo "== by hand: phonesim in one terminal, tsphost in another, as README.md (A call by hand) shows"
