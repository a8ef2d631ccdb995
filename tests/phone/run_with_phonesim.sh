#!/usr/bin/env bash
# Runs a test program beside the simulated phone, which holds the far end of
# a pseudo-terminal mapped as a COM port: natively through K482_DOSDEVICES,
# under Wine in the prefix's dosdevices. The program finds the port name in
# K482_PHONE_PORT.
#
#   run_with_phonesim.sh PHONESIM --native PROGRAM [ARGS...]
#   run_with_phonesim.sh PHONESIM --wine WINE_RUN DEFAULT_PREFIX PROGRAM [ARGS...]
set -euo pipefail

phonesim=$1 mode=$2
shift 2
if [ ! -x "$phonesim" ]; then
  echo "run_with_phonesim.sh: no phonesim at $phonesim: build the linux preset first" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/k482-phone.XXXXXX")
sim=
cleanup() {
  if [ -n "$sim" ]; then
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port=COM$((30 + RANDOM % 60))
if [ "$mode" = --wine ]; then
  wine_run=$1 default_prefix=$2
  shift 2
  prefix=${K482_WINEPREFIX:-$default_prefix}
  # The prefix must exist before a port goes into it.
  "$wine_run" --default-prefix "$default_prefix" --version >/dev/null
  dosdevices=$prefix/dosdevices
  run=("$wine_run" --default-prefix "$default_prefix")
else
  dosdevices=$work/dosdevices
  mkdir "$dosdevices"
  export K482_DOSDEVICES=$dosdevices
  run=()
fi
link=$dosdevices/$(echo "$port" | tr 'A-Z' 'a-z')

mkfifo "$work/commands"
"$phonesim" --quiet --require-pacing --link "$link" --commands "$work/commands" -e "farend answer 300" \
  >"$work/phonesim.log" 2>&1 &
sim=$!
for _ in $(seq 200); do
  [ -L "$link" ] && break
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "run_with_phonesim.sh: phonesim ended:" >&2
    cat "$work/phonesim.log" >&2
    exit 1
  fi
  sleep 0.05
done
[ -L "$link" ] || { echo "run_with_phonesim.sh: phonesim made no $link" >&2; exit 1; }

export K482_PHONE_PORT=$port
set +e
"${run[@]}" "$@"
status=$?
set -e
# The phone fails the run when it heard a command line faster than it takes one.
kill -TERM "$sim" 2>/dev/null || true
phone=0
wait "$sim" || phone=$?
sim=
if [ "$phone" -eq 3 ]; then
  cat "$work/phonesim.log" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
