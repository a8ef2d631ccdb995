#!/usr/bin/env bash
# The soak: a long scenario of mixed calls with faults on the line (soakgen,
# from a seed), played by tsphost against phonesim like any scenario, while the
# memory of the process holding the provider is sampled.
#
#   run_soak.sh [options] --native TSPHOST MODULE PHONESIM SOAKGEN
#   run_soak.sh [options] --wine WINE_RUN DEFAULT_PREFIX TSPHOST_EXE MODULE PHONESIM SOAKGEN
# options:
#   --calls N        call cycles (default 300)
#   --seed S         the generator's seed (default 1); the same seed replays the same run
#   --rss-bound KB   how far the resident memory may grow from the end of the
#                    warm-up (a tenth of the calls) to the end (default 1024);
#                    "none" reports the growth without judging it (a sanitizer's
#                    own bookkeeping grows with the run; its leak check judges)
#   --keep DIR       keep the scenario, tsphost's output, the phone's log, the
#                    provider's trace and the memory samples there
#
# It passes when every call cycle completed, every accepted request was
# completed exactly once, tsphost flagged nothing, the phone heard every command
# line paced, the trace holds no lock time-out and the memory stayed within the
# bound. It prints the figures either way.
set -euo pipefail

usage() {
  echo "usage: run_soak.sh [--calls N] [--seed S] [--rss-bound KB] [--keep DIR] --native TSPHOST MODULE PHONESIM SOAKGEN" >&2
  echo "       run_soak.sh [...] --wine WINE_RUN DEFAULT_PREFIX TSPHOST_EXE MODULE PHONESIM SOAKGEN" >&2
  exit 2
}

calls=300
seed=1
rss_bound=1024
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --calls) calls=${2:?}; shift 2 ;;
    --seed) seed=${2:?}; shift 2 ;;
    --rss-bound) rss_bound=${2:?}; shift 2 ;;
    --keep) keep=${2:?}; shift 2 ;;
    *) break ;;
  esac
done
mode=${1:-}
shift || true
case $mode in
  --native)
    [ $# -eq 4 ] || usage
    tsphost=$1 module=$2 phonesim=$3 soakgen=$4
    ;;
  --wine)
    [ $# -eq 6 ] || usage
    wine_run=$1 default_prefix=$2 tsphost=$3 module=$4 phonesim=$5 soakgen=$6
    prefix=${K482_WINEPREFIX:-$default_prefix}
    ;;
  *) usage ;;
esac
for program in "$tsphost" "$module" "$phonesim" "$soakgen"; do
  if [ ! -e "$program" ]; then
    echo "run_soak.sh: $program is missing: build it first" >&2
    exit 1
  fi
done

# Lock failures as the provider traces them (port, line map, line, call list, call).
lock_failures='ERROR (lock|double lock|unlock) (port|line map)|lock line map while holding the port lock|locked too long|Lock fault!'
# No cycle takes this long, even with every byte sent on its own.
seconds_per_call=20

work=$(mktemp -d "${TMPDIR:-/tmp}/k482-soak.XXXXXX")
sim= feeder= runner=
cleanup() {
  for pid in $runner $feeder $sim; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$mode" = --wine ]; then
  "$wine_run" --default-prefix "$default_prefix" --version >/dev/null
  trace=$prefix/drive_c/users/${USER:-$(id -un)}/Temp/kavrtsp.log
  dosdevices=$prefix/dosdevices
else
  trace=$work/kavrtsp.log
  dosdevices=$work/dosdevices
fi
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

"$soakgen" --seed "$seed" --calls "$calls" >"$work/soak.scenario"

# The phone, on a free COM port.
# shellcheck source=../support/start_phone.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/start_phone.sh"
start_phone "$dosdevices" "$work" "$phonesim" || { echo "run_soak.sh: no phone" >&2; exit 1; }

settings=(--set "PortNr=$((port - 1))" --set NumLines=1 --set NumPhones=0 --set Trace=1 --set MSN0=10
          --set ChargeFormat=4 --set ChargePerUnit=0.06 --set Currency=EUR)
echo "soak: seed $seed, $calls call cycles, $([ "$mode" = --wine ] && echo "Windows x64 under Wine" || echo Linux)"
started=$SECONDS
if [ "$mode" = --wine ]; then
  rm -f "$trace"
  LC_ALL=C LANG=C "$wine_run" --default-prefix "$default_prefix" "$tsphost" "${settings[@]}" \
    --phone "$(windows_path "$work/phone.in")" --phone-log "$(windows_path "$work/phone.log")" \
    "$(windows_path "$(realpath "$module")")" "$(windows_path "$work/soak.scenario")" >"$work/tsphost.out" 2>&1 &
else
  K482_DOSDEVICES=$dosdevices K482_REGISTRY=$work/registry.reg TMPDIR=$work LC_ALL=C LANG=C \
    "$tsphost" "${settings[@]}" --phone "$work/phone.in" --phone-log "$work/phone.log" \
    "$module" "$work/soak.scenario" >"$work/tsphost.out" 2>&1 &
fi
runner=$!

# The process that holds the provider: tsphost itself, or under Wine the
# process running tsphost.exe somewhere below the runner.
holder() {
  local pid queue=("$runner")
  while [ ${#queue[@]} -gt 0 ]; do
    pid=${queue[0]}
    queue=("${queue[@]:1}")
    if [ "$mode" = --native ] || tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qi 'tsphost\.exe'; then
      echo "$pid"
      return 0
    fi
    # shellcheck disable=SC2207
    queue+=($(cat "/proc/$pid/task/"*/children 2>/dev/null))
  done
  return 1
}

deadline=$((SECONDS + calls * seconds_per_call + 120))
pid=
: >"$work/samples"
while kill -0 "$runner" 2>/dev/null; do
  if [ $SECONDS -gt $deadline ]; then
    echo "run_soak.sh: the soak ran past $((deadline - started)) s; stopped" >&2
    kill -TERM "$runner" 2>/dev/null || true
    break
  fi
  [ -n "$pid" ] && [ -d "/proc/$pid" ] || pid=$(holder || true)
  if [ -n "$pid" ]; then
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    done_calls=$(grep -c '^\[[^]]*\] soak: call ' "$work/tsphost.out" || true)
    [ -n "$rss" ] && echo "$((SECONDS - started)) $done_calls $rss" >>"$work/samples"
  fi
  sleep 1
done
set +e
wait "$runner"
status=$?
set -e
runner=
elapsed=$((SECONDS - started))

out=$work/tsphost.out
completed=$(grep -c '^\[[^]]*\] soak: call ' "$out" || true)
flagged=$(grep -c '^\[[^]]*\] !! ' "$out" || true)
locks=0
if [ -f "$trace" ]; then locks=$(tr -d '\r' <"$trace" | grep -cE "$lock_failures" || true); fi
requests=$(tr -d '\r' <"$out" | sed -n 's/^\[[^]]*\] requests: //p' | tail -n 1)
every_once=$(grep -c '^\[[^]]*\] every request was completed once' "$out" || true)

# Memory: from the first sample after the warm-up to the last one.
warm=$(((calls + 9) / 10))
read -r rss_start rss_end rss_max at_warm < <(awk -v warm="$warm" '
  $2 >= warm { if (start == "") { start = $3; call = $2 } end = $3; if ($3 > max) max = $3 }
  END { if (start == "") print "- - - -"; else print start, end, max, call }' "$work/samples")

echo "calls completed: $completed of $calls"
echo -n "faults injected:"
for kind in garbage split cut repeat cable silent; do
  echo -n " $kind $(grep -c "^\[[^]]*\] soak fault: $kind" "$out" || true)"
done
echo
echo "requests: ${requests:-none counted}"
if [ "$rss_start" = - ]; then
  echo "memory: too few samples after the warm-up to tell"
  growth=0
else
  growth=$((rss_end - rss_start))
  echo "memory (VmRSS of the provider's process): ${rss_start} kB after call $at_warm, ${rss_end} kB at the end," \
       "${rss_max} kB at most; growth ${growth} kB (bound: ${rss_bound}$([ "$rss_bound" = none ] || echo ' kB'))"
fi
echo "lock time-outs in kavrtsp.log: $locks"
echo "flagged by tsphost (!!): $flagged"
echo "elapsed: $elapsed s"

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  cp "$work/soak.scenario" "$work/tsphost.out" "$work/phone.log" "$work/samples" "$keep/"
  if [ -f "$trace" ]; then cp "$trace" "$keep/kavrtsp.log"; fi
fi

if [ "$mode" = --wine ]; then
  # The prefix serves other suites too: leave no settings of ours behind.
  "$wine_run" --default-prefix "$default_prefix" reg delete 'HKLM\SOFTWARE\BRAMLO\482_TSP' /f >/dev/null 2>&1 || true
fi

failed=()
stop_phone_checked "$work" || failed+=("the phone heard unpaced command lines")
[ "$status" -eq 0 ] || failed+=("tsphost exited $status")
[ "$completed" -eq "$calls" ] || failed+=("$((calls - completed)) call cycle(s) did not complete")
[ "$every_once" -ge 1 ] || failed+=("not every request was completed exactly once")
[ "$flagged" -eq 0 ] || failed+=("tsphost flagged $flagged thing(s)")
[ "$locks" -eq 0 ] || failed+=("$locks lock time-out(s) traced")
[ "$rss_bound" = none ] || [ "$growth" -le "$rss_bound" ] || failed+=("memory grew by $growth kB")
if [ ${#failed[@]} -gt 0 ]; then
  echo "---- tsphost, last 60 lines"
  tail -n 60 "$out" | tr -d '\r'
  echo "---- the phone (phonesim), last 40 lines"
  tail -n 40 "$work/phone.log"
  if [ -f "$trace" ]; then
    echo "---- the provider's trace (kavrtsp.log), last 80 lines"
    tail -n 80 "$trace" | tr -d '\r'
  fi
  echo "soak FAILED: $(IFS=';'; echo "${failed[*]}")"
  exit 1
fi
echo "soak passed"
