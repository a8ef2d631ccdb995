#!/usr/bin/env bash
# Checks the resources of a built ui482tsp.dll: version 1.1.1.0, the twelve page
# templates with their port lists, and the message strings.
#   check_resources.sh <windres> <module>
set -euo pipefail
windres=$1 module=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

resources=$("$windres" -i "$module" -O rc)
grep -Eq 'FILEVERSION 1, ?1, ?1, ?0$' <<<"$resources" || fail "file version is not 1.1.1.0"
grep -Eq 'PRODUCTVERSION 1, ?1, ?1, ?0$' <<<"$resources" || fail "product version is not 1.1.1.0"
for id in 7001 7002 7005 7004 7010 7011 7006 7014 7013 7007 7008 7009; do
  grep -Eq "^$id DIALOG" <<<"$resources" || fail "no page template $id"
done
# Each connection template carries its port list.
for id in 7001 7004 7006 7007; do
  grep -Eq "^$id 240 " <<<"$resources" || fail "no port list for template $id"
done
# Enter a number (five languages), could not save (four), the caption, range and length (four each).
for id in 1 2 3 4 5 6 7 8 9 57344 61715 61716 61717 61718 61719 61720 61721 61722; do
  grep -Eq "^  $id, " <<<"$resources" || fail "no message string $id"
done
echo "resources of $(basename "$module") checked"
exit $status
