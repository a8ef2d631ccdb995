#!/usr/bin/env bash
# The Wine run of setup.exe: the driver program (a GoogleTest suite) starts
# setup.exe and answers it, once per language, on a virtual X display. Wine
# takes a program's language from LC_ALL, and setup.exe inherits the driver's.
# Screenshots land in SHOTS_DIR as PNG files.
#
#   run_setup_wine.sh WINE_RUN DEFAULT_PREFIX DRIVER SHOTS_DIR
set -euo pipefail
wine_run=$1 default_prefix=$2 driver=$3 shots=$4

for tool in xvfb-run wine wineserver; do
  command -v "$tool" >/dev/null || { echo "run_setup_wine.sh: $tool is missing (packages xvfb, wine)" >&2; exit 1; }
done

# A prefix of its own: setup writes into the system directories and TAPI's
# registry, and the run ends with the prefix's Wine processes.
base=${K482_WINEPREFIX:-$default_prefix}
export K482_WINEPREFIX=$base-setup
export WINEPREFIX=$K482_WINEPREFIX
"$wine_run" --version >/dev/null
if [ "$(readlink "$WINEPREFIX/dosdevices/z:" 2>/dev/null)" != / ]; then
  echo "run_setup_wine.sh: drive Z: of $WINEPREFIX is not /, so setup.exe cannot reach the build" >&2
  exit 1
fi
cleanup() { WINEPREFIX=$K482_WINEPREFIX wineserver -k 2>/dev/null || true; }
# Whatever an earlier run left in the prefix must not answer for this display.
cleanup
trap cleanup EXIT

rm -rf "$shots"
mkdir -p "$shots"
export K482_SETUP_SHOTS="Z:${shots//\//\\}"
# Our tapi32.dll, which the driver puts into the prefix's system directory, not Wine's stub.
export WINEDLLOVERRIDES="tapi32=n"

# One run per language; the others repeat what differs by language. Each
# group's language of another country (Wine gives de_CH 0x0807): setup knows
# the group by the primary language alone. Italian reads English.
runs=(
  "en_US.UTF-8 *"
  "de_CH.UTF-8 *InstallsThenReplaces*"
  "nl_BE.UTF-8 *InstallsThenReplaces*"
  "fr_BE.UTF-8 *InstallsThenReplaces*:*CopyFailureIsReported*"
  "it_IT.UTF-8 *InstallsThenReplaces*"
)
inner=$(mktemp)
trap 'cleanup; rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
set -u
wine_run=$1 driver=$2
shift 2
status=0
# Inside the display: a Wine process started without one would leave the
# session's desktop unable to show windows. Without a window manager, Wine
# itself must draw the frames and maximise windows.
"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
for run in "$@"; do
  locale=${run%% *} filter=${run#* }
  echo "== setup.exe in $locale: $filter"
  LC_ALL=$locale "$wine_run" "$driver" --gtest_filter="$filter" || status=1
  # Wine's helper processes keep the display until they are ended.
  wineserver -k 2>/dev/null || true
done
exit $status
INNER
status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash "$inner" "$wine_run" "$driver" "${runs[@]}" || status=1

if command -v convert >/dev/null; then
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
fi
echo "screenshots: $(ls "$shots" | tr '\n' ' ')"
exit $status
