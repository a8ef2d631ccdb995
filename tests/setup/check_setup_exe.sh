#!/usr/bin/env bash
# setup.exe imports system DLLs only (TAPI is bound by name at run time, so it
# starts on a system without TAPI) and carries version 1.1.1.0.
#   check_setup_exe.sh OBJDUMP WINDRES setup.exe
set -euo pipefail
objdump=$1 windres=$2 program=$3
status=0
imports=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr 'A-Z' 'a-z' | sort -u)
allowed=" gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll advapi32.dll "
for dll in $imports; do
  case "$allowed" in *" $dll "*) ;; *) echo "FAIL: setup.exe imports $dll"; status=1 ;; esac
done
resources=$("$windres" -i "$program" -O rc 2>/dev/null || true)
grep -Eq 'FILEVERSION 1, ?1, ?1, ?0$' <<<"$resources" || { echo "FAIL: file version is not 1.1.1.0"; status=1; }
grep -q '"Kavrel TSP Setup"' <<<"$resources" || { echo "FAIL: no application title string"; status=1; }
echo "imports: $(echo $imports)"
exit $status
