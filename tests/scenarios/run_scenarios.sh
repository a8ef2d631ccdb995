#!/usr/bin/env bash
# Runs scenario files against the provider, each with a phone of its own:
# phonesim on a pseudo-terminal mapped as a COM port, tsphost loading the
# provider module and playing the scenario, phone lines reaching phonesim
# through a file it follows.
#
#   run_scenarios.sh [--keep DIR] [--ui UI_MODULE] [--emulator "PROGRAM ARGS"] --native TSPHOST MODULE PHONESIM SCENARIO...
#       the Linux build: k482tsp.so, the port through K482_DOSDEVICES; a 32-bit
#       build's tsphost runs through the emulator (qemu-i386 -L /)
#   run_scenarios.sh [--keep DIR] --wine WINE_RUN DEFAULT_PREFIX TSPHOST_EXE MODULE PHONESIM SCENARIO...
#       the Windows build under wine64: tsphost.exe with k482tsp.tsp, the port in
#       the prefix's dosdevices ($K482_WINEPREFIX, else DEFAULT_PREFIX)
#
# --ui gives tsphost the UI module to load (the settings form's scenarios,
# natively only), with the phone on COM1 too.
# --keep DIR keeps each scenario's phone log and provider trace there, as
# <name>.phone.log and <name>.kavrtsp.log.
#
# A scenario passes when tsphost exits 0 (every expectation held and every
# request was completed exactly once) and the phone heard every command line
# paced as it needs. After a failure come the phone's log and the end of the
# provider's trace. Exit status 0 when every scenario passed.
set -euo pipefail

usage() {
  echo "usage: run_scenarios.sh [--keep DIR] [--ui UI_MODULE] [--emulator \"PROGRAM ARGS\"] --native TSPHOST MODULE PHONESIM SCENARIO..." >&2
  echo "       run_scenarios.sh [--keep DIR] --wine WINE_RUN DEFAULT_PREFIX TSPHOST_EXE MODULE PHONESIM SCENARIO..." >&2
  exit 2
}

keep=
if [ "${1:-}" = --keep ]; then
  [ $# -ge 2 ] || usage
  keep=$2
  shift 2
  mkdir -p "$keep"
fi
ui=()
if [ "${1:-}" = --ui ]; then
  [ $# -ge 2 ] || usage
  ui=(--ui "$2")
  shift 2
fi
emulator=()
if [ "${1:-}" = --emulator ]; then
  [ $# -ge 2 ] || usage
  read -ra emulator <<<"$2"
  shift 2
fi
mode=${1:-}
shift || true
case $mode in
  --native)
    [ $# -ge 4 ] || usage
    tsphost=$1 module=$2 phonesim=$3
    shift 3
    ;;
  --wine)
    [ $# -ge 6 ] || usage
    wine_run=$1 default_prefix=$2 tsphost=$3 module=$4 phonesim=$5
    shift 5
    prefix=${K482_WINEPREFIX:-$default_prefix}
    ;;
  *) usage ;;
esac
for program in "$tsphost" "$module" "$phonesim"; do
  if [ ! -e "$program" ]; then
    echo "run_scenarios.sh: $program is missing: build it first" >&2
    exit 1
  fi
done

# How long one scenario may take at most, however it goes wrong.
scenario_bound=300

if [ "$mode" = --wine ]; then
  # The prefix must be complete before a port goes into it.
  "$wine_run" --default-prefix "$default_prefix" --version >/dev/null
  if [ "$(readlink "$prefix/dosdevices/z:" 2>/dev/null)" != / ]; then
    echo "run_scenarios.sh: drive Z: of $prefix is not /, so tsphost.exe cannot reach its files" >&2
    exit 1
  fi
  trace=$prefix/drive_c/users/${USER:-$(id -un)}/Temp/kavrtsp.log
fi

# A Linux path as a Windows program under Wine sees it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

work=
sim=
feeder=
stop_phone() {
  if [ -n "$feeder" ]; then
    kill "$feeder" 2>/dev/null || true
    wait "$feeder" 2>/dev/null || true
  fi
  if [ -n "$sim" ]; then
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  feeder= sim=
}
cleanup() {
  stop_phone
  if [ -n "$work" ]; then rm -rf "$work"; fi
  work=
}
trap cleanup EXIT

# shellcheck source=../support/start_phone.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/start_phone.sh"

# Runs one scenario; its output goes to stdout as it happens.
run_one() {
  local scenario=$1 name=$2 status
  work=$(mktemp -d "${TMPDIR:-/tmp}/k482-scenario.XXXXXX")
  local dosdevices=$work/dosdevices
  [ "$mode" = --wine ] && dosdevices=$prefix/dosdevices
  start_phone "$dosdevices" "$work" "$phonesim" || return 1
  if [ ${#ui[@]} -gt 0 ] && [ "$mode" = --native ]; then
    # The settings form offers COM1 to COM6: COM1 is the phone, the others
    # lead nowhere (never to a port of this machine).
    ln -s "com$port" "$dosdevices/com1"
    for n in 2 3 4 5 6; do ln -s nowhere "$dosdevices/com$n"; done
  fi
  # The settings every scenario starts from; PortNr counts from 0 (COM1).
  local settings=(--set "PortNr=$((port - 1))" --set NumLines=1 --set NumPhones=0 --set Trace=1 --set MSN0=10
                  --set ChargeFormat=4 --set ChargePerUnit=0.06 --set Currency=EUR)
  set +e
  if [ "$mode" = --wine ]; then
    rm -f "$trace"
    LC_ALL=C LANG=C timeout "$scenario_bound" "$wine_run" --default-prefix "$default_prefix" "$tsphost" \
      "${settings[@]}" --phone "$(windows_path "$work/phone.in")" --phone-log "$(windows_path "$work/phone.log")" \
      "$(windows_path "$(realpath "$module")")" "$(windows_path "$(realpath "$scenario")")" | tr -d '\r'
    status=${PIPESTATUS[0]}
  else
    trace=$work/kavrtsp.log
    K482_DOSDEVICES=$work/dosdevices K482_REGISTRY=$work/registry.reg TMPDIR=$work LC_ALL=C LANG=C \
      timeout "$scenario_bound" "${emulator[@]}" "$tsphost" "${settings[@]}" "${ui[@]}" --phone "$work/phone.in" --phone-log "$work/phone.log" \
      "$module" "$scenario"
    status=$?
  fi
  set -e
  # The phone fails the run when the provider did not pace what it sent.
  if ! stop_phone_checked "$work" && [ "$status" -eq 0 ]; then status=1; fi
  if [ -n "$keep" ]; then
    cp "$work/phone.log" "$keep/$name.phone.log"
    if [ -f "$trace" ]; then cp "$trace" "$keep/$name.kavrtsp.log"; fi
  fi
  if [ "$status" -ne 0 ]; then
    echo "---- the phone (phonesim), last 60 lines"
    tail -n 60 "$work/phone.log"
    echo "---- the provider's trace (kavrtsp.log), last 120 lines"
    if [ -f "$trace" ]; then tail -n 120 "$trace" | tr -d '\r'; fi
  fi
  cleanup
  return "$status"
}

[ $# -gt 0 ] || usage
passed=0
failed=()
for scenario in "$@"; do
  name=$(basename "$scenario" .scenario)
  echo "==== scenario $name ($([ "$mode" = --wine ] && echo "Windows x64 under Wine" || echo Linux))"
  started=$SECONDS
  if run_one "$scenario" "$name"; then
    passed=$((passed + 1))
    echo "==== PASS $name ($((SECONDS - started)) s)"
  else
    failed+=("$name")
    echo "==== FAIL $name ($((SECONDS - started)) s)"
  fi
done
if [ "$mode" = --wine ]; then
  # The prefix serves other suites too: leave no settings of ours behind.
  "$wine_run" --default-prefix "$default_prefix" reg delete 'HKLM\SOFTWARE\BRAMLO\482_TSP' /f >/dev/null 2>&1 || true
fi
echo "==== $passed of $# scenario(s) passed${failed[*]:+; failed: ${failed[*]}}"
[ ${#failed[@]} -eq 0 ]
