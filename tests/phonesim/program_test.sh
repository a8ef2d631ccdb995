#!/usr/bin/env bash
# The phonesim program as a script runs it: linked into a directory, commands
# from a FIFO, the port opened and closed again and again from outside, and the
# ends a script relies on (quit, SIGTERM, end of input), each leaving no link.
set -euo pipefail

phonesim=$1
dir=$(mktemp -d)
pid=""
cleanup() {
  exec 3>&- 4>&- 2>/dev/null || true
  [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [[ -f $dir/out ]] && sed 's/^/  phonesim: /' "$dir/out" >&2
  exit 1
}

# Polls a condition for up to five seconds.
wait_for() {
  for _ in $(seq 100); do
    if eval "$1"; then return 0; fi
    sleep 0.05
  done
  return 1
}

# Reads exactly $1 bytes from the port within five seconds, as hex.
read_port() {
  timeout 5 head -c "$1" <&3 | od -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'
}

report_all_free="02 04 14 43 ff ff ff 40 03"

start() {
  "$phonesim" --link "$dir/com3" "$@" >"$dir/out" 2>&1 &
  pid=$!
  # The link comes during the start, the device's line once it is done.
  wait_for '[[ -L $dir/com3 && $(wc -l <"$dir/out") -ge 1 ]]' || fail "no link and device line after start"
}

# One command line through the FIFO, which phonesim must open within the wait.
send() {
  timeout 5 bash -c 'echo "$1" >"$2"' _ "$1" "$dir/in" || fail "phonesim took no command \"$1\""
}

# Stops waiting for phonesim and checks that it ended well.
finish() {
  local code=0
  wait_for '! kill -0 "$pid" 2>/dev/null' || fail "still running"
  wait "$pid" || code=$?
  pid=""
  [[ $code == 0 ]] || fail "exit code $code"
  [[ ! -e $dir/com3 && ! -L $dir/com3 ]] || fail "link left behind"
}

# Anything but a link where the link goes is left alone, and the start refused.
echo precious >"$dir/com3"
code=0
timeout 10 "$phonesim" --link "$dir/com3" --quiet </dev/null >"$dir/out" 2>&1 || code=$?
[[ $code != 0 ]] || fail "started over a file where the link goes"
[[ $(cat "$dir/com3") == precious ]] || fail "the file where the link goes was changed"
rm "$dir/com3"

# Commands from a FIFO, which is opened again for every writer. The link an
# earlier run left behind is replaced.
ln -s /nonexistent/pts/99 "$dir/com3"
mkfifo "$dir/in"
start --commands "$dir/in"
[[ $(head -n 1 "$dir/out") == "$(readlink "$dir/com3")" ]] || fail "first line is not the device"

for round in 1 2 3; do
  exec 3<>"$dir/com3"
  printf 'ATB\r' >&3
  got=$(read_port 17)
  [[ $got == "41 54 42 0d 4f 4b 0d 0a $report_all_free" ]] || fail "round $round: ATB gave $got"
  exec 3>&-
done

exec 3<>"$dir/com3"
send "ring 0301234 10"
got=$(read_port 25)
[[ $got == "02 0b 14 41 30 33 30 31 32 33 34 3a 31 30 "*" 02 04 14 43 04 ff ff "* ]] || fail "ring gave $got"
send "hangup 1 16"
got=$(read_port 8)
[[ $got == "02 03 14 53 31 30 "* ]] || fail "hangup gave $got"
exec 3>&-

send quit
finish

# No input at all: SIGTERM ends it.
start --no-input --quiet
exec 3<>"$dir/com3"
exec 3>&-
kill -TERM "$pid"
finish

# Input that ends: end of file ends it, at once.
code=0
timeout 10 "$phonesim" --link "$dir/com3" --quiet </dev/null >"$dir/out" 2>&1 || code=$?
[[ $code == 0 ]] || fail "end of input: exit code $code"
[[ $(head -n 1 "$dir/out") == /dev/* ]] || fail "end of input: no device named"
[[ $(wc -l <"$dir/out") == 1 ]] || fail "--quiet: more than the device line"
[[ ! -e $dir/com3 && ! -L $dir/com3 ]] || fail "end of input: link left behind"

# An option without its value is a bad option.
code=0
"$phonesim" --link </dev/null >/dev/null 2>&1 || code=$?
[[ $code == 2 ]] || fail "an option without its value: exit code $code"

echo "phonesim program: all passed"
