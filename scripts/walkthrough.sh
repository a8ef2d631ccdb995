#!/usr/bin/env bash
# Runs the README's by-hand walkthrough exactly as written, so that it cannot
# drift from the product: the block marked "terminal 1" in one shell, the
# block marked "terminal 2" in another, and the "session" block's lines typed
# into the program each one names. After every typed line, tsphost must show
# the lines listed under it (in any order, without their time stamps) within
# a bounded time; at the end, both programs must have ended and the provider
# must have written its trace.
#
# Only the environment differs from a person's: the settings file and the
# temporary directory (the trace) are the run's own, not the user's.
#   bash scripts/walkthrough.sh [README]
set -euo pipefail
cd "$(dirname "$0")/.."
readme=${1:-README.md}

# The fenced block after the marker line <!-- walkthrough: NAME -->.
block() {
  awk -v marker="<!-- walkthrough: $1 -->" '
    $0 == marker { armed = 1; next }
    armed && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$readme"
}

terminal1=$(block "terminal 1")
terminal2=$(block "terminal 2")
session=$(block "session")
for part in terminal1 terminal2 session; do
  [ -n "${!part}" ] || { echo "walkthrough: no '$part' block in $readme" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/k482-walkthrough.XXXXXX")
pids=()
cleanup() {
  exec 7>&- 8>&- 2>/dev/null || true
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export K482_REGISTRY=$work/registry.reg
export TMPDIR=$work

show_and_fail() {
  echo "walkthrough: $*" >&2
  echo "--- terminal 1 (phonesim)" >&2
  tail -n 30 "$work/terminal1.out" >&2 || true
  echo "--- terminal 2 (tsphost)" >&2
  tail -n 40 "$work/terminal2.out" >&2 || true
  exit 1
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || show_and_fail "$what"
    sleep 0.1
  done
}

mkfifo "$work/terminal1.in" "$work/terminal2.in"
echo "== terminal 1"
printf '%s\n' "$terminal1" | sed 's/^/   $ /'
bash -e -c "$terminal1" <"$work/terminal1.in" >"$work/terminal1.out" 2>&1 &
pids+=($!)
exec 7>"$work/terminal1.in"
# The link is the last command's doing; a build from scratch comes first.
link=$(sed -n 's/.*--link \([^ ]*\).*/\1/p' <<<"$terminal1" | tail -1)
alive() { kill -0 "${pids[0]}" 2>/dev/null; }
linked() { [ -L "$link" ] || ! alive; }
wait_for 1800 "phonesim made no $link" linked
[ -L "$link" ] || show_and_fail "terminal 1 ended before phonesim made $link"

echo "== terminal 2"
printf '%s\n' "$terminal2" | sed 's/^/   $ /'
bash -e -c "$terminal2" <"$work/terminal2.in" >"$work/terminal2.out" 2>&1 &
pids+=($!)
exec 8>"$work/terminal2.in"
ready() { grep -q 'type commands' "$work/terminal2.out"; }
wait_for 60 "tsphost did not start" ready

# What tsphost showed since an offset, without the time stamps.
shown_since() { tail -c +"$(($1 + 1))" "$work/terminal2.out" | sed -E 's/^\[ *[0-9.]+\] //'; }

typed=0 checked=0
offset=0 expected=()
check_step() {
  local line
  for line in "${expected[@]}"; do
    has_line() { shown_since "$offset" | grep -qxF -- "$line"; }
    wait_for 15 "after '$command', tsphost did not show: $line" has_line
    checked=$((checked + 1))
  done
  expected=()
}

command=
while IFS= read -r entry; do
  case "$entry" in
    "tsphost> "* | "phonesim> "*)
      check_step
      program=${entry%%>*}
      command=$(sed -E 's/^[a-z]+> +//' <<<"$entry")
      offset=$(stat -c %s "$work/terminal2.out")
      echo "   $program> $command"
      if [ "$program" = tsphost ]; then echo "$command" >&8; else echo "$command" >&7; fi
      typed=$((typed + 1))
      ;;
    " "*) expected+=("$(sed -E 's/^ +//' <<<"$entry")") ;;
    "") ;;
    *) show_and_fail "cannot read the session line: $entry" ;;
  esac
done <<<"$session"
check_step

exec 7>&- 8>&-
ended() { ! kill -0 "${pids[0]}" 2>/dev/null && ! kill -0 "${pids[1]}" 2>/dev/null; }
wait_for 30 "phonesim or tsphost did not end after the session" ended
for pid in "${pids[@]}"; do
  wait "$pid" || show_and_fail "a terminal's last command failed"
done
pids=()
[ -s "$work/kavrtsp.log" ] || show_and_fail "the provider wrote no kavrtsp.log in \$TMPDIR"
grep -q 'MakeCall to <0301234>' "$work/kavrtsp.log" || show_and_fail "kavrtsp.log does not show the call made"
echo "walkthrough: $typed commands typed, $checked lines shown as the README says, kavrtsp.log written"
echo "$checked passed, 0 failed"
