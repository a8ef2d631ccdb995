#!/usr/bin/env bash
# Runs one Windows x64 program under wine64. The prefix is $K482_WINEPREFIX when
# set (the test command gives every run a throwaway one), else the build's own
# (--default-prefix DIR, passed by CMake). A first start creates the prefix; a
# lock keeps parallel tests from creating it twice.
set -euo pipefail

prefix=${K482_WINEPREFIX:-}
if [ "${1:-}" = "--default-prefix" ]; then
  prefix=${prefix:-$2}
  shift 2
fi
prefix=${prefix:-${TMPDIR:-/tmp}/k482-wineprefix-$(id -u)}

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver --wait || true
  fi
) 9>"$WINEPREFIX.lock"

exec wine "$@"
