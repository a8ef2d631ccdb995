#!/usr/bin/env bash
# Runs a Windows test program under wine64 on a virtual display in one user
# language (Wine takes it from LANG), then turns the screenshots the program
# left as BMP files into PNG files.
#   run_gui_test.sh WINE_RUN DEFAULT_PREFIX LOCALE SCREENSHOT_DIR PROGRAM [ARGS...]
set -euo pipefail
wine_run=$1 default_prefix=$2 locale=$3 shots=$4
shift 4

export WINEPREFIX=${K482_WINEPREFIX:-$default_prefix}
export LANG=$locale LC_ALL=$locale
mkdir -p "$shots"
export K482_SCREENSHOT_DIR="Z:${shots//\//\\}"

# A wineserver an earlier test left running started its desktop without a
# display; this program's windows must be on ours.
timeout 60 wineserver -w 2>/dev/null || true
status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  status=0
  "$@" || status=$?
  # Let every process of the prefix leave while the display is still there.
  timeout 60 wineserver -w || true
  exit $status' run "$wine_run" --default-prefix "$default_prefix" "$@" || status=$?

for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $status
