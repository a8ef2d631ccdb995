#!/usr/bin/env bash
# The release folder passes the packaging check, and the check catches what
# must not ship: a module with its debug information still in it, and a module
# built from another commit than the rest (a stale 32-bit UI module, say), and
# a module built for another machine.
#   check_package_test.sh OBJDUMP WINDRES VERSION PACKAGE_DIR SYMBOLS_DIR UNSTRIPPED_PROVIDER
set -euo pipefail
objdump=$1 windres=$2 version=$3 package=$4 symbols=$5 unstripped=$6
check=$(dirname "$0")/../../scripts/check-package.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/k482-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0

echo "== the release folder"
bash "$check" "$objdump" "$windres" "$version" "$package" "$symbols" || status=1

# Must fail, naming the fault.
expect_refusal() {
  local what=$1 folder=$2 reason=$3
  echo "== $what"
  if bash "$check" "$objdump" "$windres" "$version" "$folder" "$symbols" 2>"$work/err"; then
    echo "FAIL: the check passed $what"
    status=1
  elif ! grep -q -- "$reason" "$work/err"; then
    echo "FAIL: the check refused $what, but not for: $reason"
    cat "$work/err"
    status=1
  else
    sed 's/^/   refused: /' "$work/err"
  fi
}

cp -r "$package" "$work/debug"
cp "$unstripped" "$work/debug/k482tsp.ts0"
expect_refusal "a provider with its debug information" "$work/debug" "k482tsp.ts0 still holds debug sections"

if [ -e "$package/ui482tsp32.dl0" ]; then
  cp -r "$package" "$work/machine"
  cp "$package/ui482tsp32.dl0" "$work/machine/ui482tsp.dl0"
  expect_refusal "a 32-bit UI module in the 64-bit place" "$work/machine" "ui482tsp.dl0 is built for pei-i386, not pei-x86-64"
fi

cp -r "$package" "$work/stale"
commit=$("$windres" -i "$package/ui482tsp.dl0" -O rc | sed -n 's/^ *VALUE "Commit", "\(.*\)"$/\1/p')
other=$(tr '0-9a-f' '1-9a-f0' <<<"${commit:0:1}")${commit:1}
# The commit is UTF-16 in the version resource: rewrite it in place, as an older build would carry it.
python3 - "$work/stale/ui482tsp.dl0" "$commit" "$other" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].encode("utf-16-le"), sys.argv[3].encode("utf-16-le")
data = open(path, "rb").read()
assert data.count(old) == 1, "commit not found once"
open(path, "wb").write(data.replace(old, new))
PY
expect_refusal "a UI module from another commit" "$work/stale" "ui482tsp.dl0 was built from commit $other"
exit $status
