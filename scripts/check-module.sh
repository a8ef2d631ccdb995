#!/usr/bin/env bash
# Checks a built module's tables: exactly the expected exports, undecorated;
# on Windows also imports from system DLLs only, version 1.1.1.0 and icon 6000.
#   check-module.sh <Windows|Linux> <objdump|nm> <module> <expected-exports-file> [windres]
set -euo pipefail
system=$1 inspector=$2 module=$3 expected_file=$4 windres=${5:-}
status=0
fail() { echo "FAIL: $*"; status=1; }

expected=$(grep -v '^\s*$' "$expected_file" | sort)
if [ "$system" = Windows ]; then
  table=$("$inspector" -p "$module")
  actual=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
           sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
  imports=$(printf '%s\n' "$table" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr 'A-Z' 'a-z' | sort -u)
  allowed="advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll version.dll"
  for dll in $imports; do
    case " $allowed " in *" $dll "*) ;; *) fail "imports $dll, which is not a system DLL" ;; esac
  done
  echo "imports: $(echo $imports)"
  if [ -n "$windres" ]; then
    resources=$("$windres" -i "$module" -O rc 2>/dev/null || true)
    grep -Eq 'FILEVERSION 1, ?1, ?1, ?0$' <<<"$resources" || fail "file version is not 1.1.1.0"
    grep -Eq 'PRODUCTVERSION 1, ?1, ?1, ?0$' <<<"$resources" || fail "product version is not 1.1.1.0"
    grep -Eq '^6000 14 ' <<<"$resources" || fail "no group icon resource 6000"
  fi
else
  actual=$("$inspector" -D --defined-only "$module" | awk '$2 == "T" || $2 == "W" || $2 == "i" {print $3}' | sort)
fi

missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
extra=$(comm -13 <(echo "$expected") <(echo "$actual"))
[ -z "$missing" ] || fail "missing exports: $(echo $missing)"
[ -z "$extra" ] || fail "unexpected exports: $(echo $extra)"
echo "exports: $(echo "$actual" | wc -l) checked in $(basename "$module")"
exit $status
