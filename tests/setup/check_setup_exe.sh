#!/usr/bin/env bash
# setup.exe's tables: it imports system DLLs only (TAPI is bound by name at run
# time, so it starts on a system without TAPI), loads no DLL by a bare name
# through the plain search order, carries version 1.1.1.0 and its application
# manifest (resource type 24): administrator rights, Windows 7 to 11, DPI aware.
#   check_setup_exe.sh OBJDUMP WINDRES setup.exe
set -euo pipefail
objdump=$1 windres=$2 program=$3
status=0
fail() { echo "FAIL: $*"; status=1; }

table=$("$objdump" -p "$program")
imports=$(sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' <<<"$table" | tr 'A-Z' 'a-z' | sort -u)
allowed=" gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll advapi32.dll "
for dll in $imports; do
  case "$allowed" in *" $dll "*) ;; *) fail "setup.exe imports $dll" ;; esac
done
# The plain LoadLibrary searches the program's folder first; setup loads with
# LoadLibraryExA and the system directory's search flag. (The i686 runtime's
# start-up code imports LoadLibraryA, only to hold its unwinder DLL when that
# is loaded already.)
if ! grep -q 'file format pei-i386' <<<"$table"; then
  grep -Eq '\sLoadLibraryA$' <<<"$table" && fail "setup.exe imports LoadLibraryA"
fi
grep -Eq '\sLoadLibraryExA$' <<<"$table" || fail "setup.exe does not import LoadLibraryExA"

resources=$("$windres" -i "$program" -O rc 2>/dev/null || true)
grep -Eq 'FILEVERSION 1, ?1, ?1, ?0$' <<<"$resources" || fail "file version is not 1.1.1.0"
grep -q '"Kavrel TSP Setup"' <<<"$resources" || fail "no application title string"

# The manifest as Windows reads it: resource 1 of type 24, its lines joined.
manifest=$(awk '/^1 24 /{on=1; next} on && /^END/{exit} on' <<<"$resources" |
           sed 's/^ *"//; s/\\n"$//; s/"$//; s/""/"/g')
[ -n "$manifest" ] || fail "no application manifest (resource 1, type 24)"
grep -q '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>' <<<"$manifest" ||
  fail "the manifest does not require administrator rights"
declare -A windows=(
  [35138b9a-5d96-4fbd-8e2d-a2440225f93a]="Windows 7" [4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38]="Windows 8"
  [1f676c76-80e1-4239-95bb-83d0f6d0da78]="Windows 8.1" [8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a]="Windows 10 and 11")
for id in "${!windows[@]}"; do
  grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$manifest" || fail "the manifest does not name ${windows[$id]}"
done
grep -q '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' <<<"$manifest" ||
  fail "the manifest is not DPI aware"
grep -q '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2' <<<"$manifest" ||
  fail "the manifest is not per-monitor DPI aware"
echo "imports: $(echo $imports); manifest of $(wc -l <<<"$manifest") lines checked"
exit $status
