#!/usr/bin/env bash
# The main job: builds the Linux provider and the test host, then loads the
# provider as the telephony service would, from a settings store written here,
# and shows what it reported and what it traced.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for package in cmake ninja-build g++ googletest; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --preset linux >/dev/null
cmake --build --preset linux --target k482tsp tsphost >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/registry.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\BRAMLO\482_TSP]
"NumLines"=dword:00000001
"NumPhones"=dword:00000000
"PortNr"=dword:00000000
"MSN0"="10"
"Trace"=dword:00000001

REG

echo "== settings ($work/registry.reg)"
cat "$work/registry.reg"
echo "== the provider, driven by tsphost"
K482_REGISTRY=$work/registry.reg TMPDIR=$work build/linux/tools/tsphost/tsphost probe build/linux/provider/k482tsp.so
echo
echo "== its trace, kavrtsp.log"
tr -d '\r' <"$work/kavrtsp.log"
