#!/usr/bin/env bash
# Checks a release folder before it is zipped, and again as a test: every
# shipped module (setup.exe, *.ts0, *.dl0)
#   - holds no debug information: no .debug_* (or .zdebug_*, .stab*) section;
#   - links its debug information by name and CRC (.gnu_debuglink) to a file
#     in the symbols folder;
#   - carries the product version in its version resource, and the same commit
#     as every other module of the package, so that a 32-bit UI module left
#     over from an older x86 build cannot ship beside newer modules;
#   - is built for setup.exe's machine, but for the 32-bit UI module of the x64
#     package: setup copies them as they are.
#   check-package.sh OBJDUMP WINDRES VERSION PACKAGE_DIR SYMBOLS_DIR
set -euo pipefail
objdump=$1 windres=$2 version=$3 package=$4 symbols=$5
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# A section's bytes as hex, from objdump's dump (address, four words, text).
section_hex() {
  "$objdump" -s -j "$2" "$1" 2>/dev/null | sed -nE 's/^ [0-9a-f]+ (.{35}).*$/\1/p' | tr -d ' \n'
}

crc_of() { gzip -1 -c "$1" | tail -c8 | head -c4 | od -An -tx1 | tr -d ' \n'; }

modules=()
for file in "$package"/setup.exe "$package"/*.ts0 "$package"/*.dl0; do
  [ -e "$file" ] && modules+=("$file")
done
[ ${#modules[@]} -gt 0 ] || fail "no modules in $package"

binary=$(sed 's/\./, ?/g' <<<"$version")
format_of() { "$objdump" -f "$1" 2>/dev/null | sed -n 's/.*file format \(.*\)$/\1/p'; }
package_format=$(format_of "$package/setup.exe")
commit_seen= commit_file=
for file in "${modules[@]}"; do
  name=$(basename "$file")
  sections=$("$objdump" -h "$file" | awk '$1 ~ /^[0-9]+$/ {print $2}')
  debug=$(grep -E '^\.(z?debug|stab)' <<<"$sections" | tr '\n' ' ' || true)
  [ -z "$debug" ] || fail "$name still holds debug sections: $debug"

  link=$(section_hex "$file" .gnu_debuglink)
  if [ -z "$link" ]; then
    fail "$name has no debug link"
  else
    name_hex=${link%%00*}
    # The name is padded to four bytes; the CRC follows.
    crc_at=$(( (${#name_hex} / 2 + 1 + 3) / 4 * 4 * 2 ))
    crc=${link:crc_at:8}
    debug_name=$(printf "$(sed 's/../\\x&/g' <<<"$name_hex")")
    found=
    while IFS= read -r candidate; do
      [ "$(crc_of "$candidate")" = "$crc" ] && found=$candidate
    done < <(find "$symbols" -name "$debug_name" -type f 2>/dev/null)
    [ -n "$found" ] || fail "$name links to $debug_name (CRC $crc), which is not in $symbols"
  fi

  format=$(format_of "$file") wanted=$package_format
  [ "$name" != ui482tsp32.dl0 ] || wanted=pei-i386
  [ "$format" = "$wanted" ] || fail "$name is built for ${format:-no known machine}, not $wanted"

  resources=$("$windres" -i "$file" -O rc 2>/dev/null || true)
  grep -Eq "^ *FILEVERSION $binary\$" <<<"$resources" || fail "$name: file version is not $version"
  grep -Eq "^ *PRODUCTVERSION $binary\$" <<<"$resources" || fail "$name: product version is not $version"
  commit=$(sed -n 's/^ *VALUE "Commit", "\(.*\)"$/\1/p' <<<"$resources")
  if [ -z "$commit" ]; then
    fail "$name names no commit"
  elif [ -z "$commit_seen" ]; then
    commit_seen=$commit commit_file=$name
  elif [ "$commit" != "$commit_seen" ]; then
    fail "$name was built from commit $commit, $commit_file from $commit_seen: rebuild both from one tree"
  fi
done
[ $status -ne 0 ] || echo "package $(basename "$package"): ${#modules[@]} modules stripped, linked to their symbols, version $version, commit $commit_seen"
exit $status
