#!/usr/bin/env bash
# Runs a Windows test in the Wine prefix of the slot ctest handed it, so that
# tests run side by side without sharing a registry or COM ports:
#   wine-slot.sh DEFAULT_PREFIX COMMAND [ARGS...]
# Under `ctest --resource-spec-file` (the windows-x64 test preset names one),
# each test holds one "wineprefix" slot and runs with K482_WINEPREFIX set to
# ${K482_WINEPREFIX:-DEFAULT_PREFIX}-slot<id>. Without a slot the command runs
# as it is, in $K482_WINEPREFIX or DEFAULT_PREFIX. A slot's prefix is made at its
# first use and kept for the next test in that slot.
set -euo pipefail
default_prefix=$1
shift
slot=${CTEST_RESOURCE_GROUP_0_WINEPREFIX:-}
if [ -n "$slot" ]; then
  id=${slot#id:}
  id=${id%%,*}
  export K482_WINEPREFIX=${K482_WINEPREFIX:-$default_prefix}-slot$id
fi
exec "$@"
