#!/usr/bin/env bash
# Runs a test program against wine_peer.py, which holds the phone's end of a
# pseudo-terminal (needs python3, Debian package python3).
#
#   run_with_peer.sh --wine WINE_RUN DEFAULT_PREFIX PROGRAM [ARGS...]
#       a Windows test program under Wine (through WINE_RUN, scripts/wine-run.sh),
#       the port mapped in the prefix: $K482_WINEPREFIX, else DEFAULT_PREFIX
#   run_with_peer.sh --native PROGRAM [ARGS...]
#       a native test program against the same peer, mapped through K482_DOSDEVICES
#
# The program learns the port and the peer's order directory from
# K482_SERIAL_TEST_PORT and K482_SERIAL_TEST_PEER_DIR.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-}
shift || true
case $mode in
  --wine) wine_run=$1 default_prefix=$2; shift 2 ;;
  --native) ;;
  *) echo "usage: $0 --wine WINE_RUN DEFAULT_PREFIX PROGRAM [ARGS...] | --native PROGRAM [ARGS...]" >&2; exit 2 ;;
esac
if ! command -v python3 >/dev/null; then
  echo "run_with_peer.sh: python3 is missing (Debian package python3)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/k482-serial-peer.XXXXXX")
peer_pid=
cleanup() {
  if [ -n "$peer_pid" ]; then
    kill "$peer_pid" 2>/dev/null || true
    wait "$peer_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$mode" = --wine ]; then
  prefix=${K482_WINEPREFIX:-$default_prefix}
  # The prefix must be complete before a port goes into it: Wine does not finish
  # setting up a prefix whose dosdevices directory someone else made.
  "$wine_run" --default-prefix "$default_prefix" --version >/dev/null
  dosdevices=$prefix/dosdevices
  if [ "$(readlink "$dosdevices/z:" 2>/dev/null)" != / ]; then
    echo "run_with_peer.sh: drive Z: of $prefix is not /, so the test cannot reach the peer" >&2
    exit 1
  fi
else
  dosdevices=$work/dosdevices
  mkdir "$dosdevices"
  export K482_DOSDEVICES=$dosdevices
fi

python3 "$here/wine_peer.py" --dosdevices "$dosdevices" --dir "$work/peer" &
peer_pid=$!
for _ in $(seq 200); do
  [ -s "$work/peer/port" ] && break
  if ! kill -0 "$peer_pid" 2>/dev/null; then
    echo "run_with_peer.sh: wine_peer.py ended before its line was up" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -s "$work/peer/port" ]; then
  echo "run_with_peer.sh: wine_peer.py brought no line up within 10 s" >&2
  exit 1
fi

K482_SERIAL_TEST_PORT=$(cat "$work/peer/port")
export K482_SERIAL_TEST_PORT
if [ "$mode" = --wine ]; then
  K482_SERIAL_TEST_PEER_DIR="Z:${work//\//\\}\\peer"
  export K482_SERIAL_TEST_PEER_DIR
  "$wine_run" --default-prefix "$default_prefix" "$@"
else
  export K482_SERIAL_TEST_PEER_DIR=$work/peer
  "$@"
fi
