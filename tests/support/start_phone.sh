# Sourced by the scenario and soak runners. start_phone DOSDEVICES DIR PHONESIM
# starts the simulated phone on a free COM port of DOSDEVICES, following
# DIR/phone.in, the file tsphost appends phone lines to (Windows programs can
# append to a plain file; phonesim reads a FIFO). Its output goes to
# DIR/phone.log. Sets port, sim and feeder; fails, saying why, when the phone
# does not come up. The phone requires the provider's pacing: stop_phone_checked
# DIR ends it and fails, saying why, when it heard a command line too fast.
start_phone() {
  local dosdevices=$1 dir=$2 program=$3 link
  mkdir -p "$dosdevices"
  for _ in $(seq 50); do
    port=$((30 + RANDOM % 60))
    link=$dosdevices/com$port
    [ -e "$link" ] || [ -L "$link" ] || break
  done
  : >"$dir/phone.in"
  mkfifo "$dir/phone.fifo"
  "$program" --require-pacing --link "$link" --commands "$dir/phone.fifo" >"$dir/phone.log" 2>&1 &
  sim=$!
  tail -n +1 -s 0.05 -f "$dir/phone.in" >"$dir/phone.fifo" &
  feeder=$!
  for _ in $(seq 200); do
    [ -L "$link" ] && grep -q '^phonesim: ' "$dir/phone.log" && return 0
    if ! kill -0 "$sim" 2>/dev/null; then
      echo "phonesim ended:" >&2
      cat "$dir/phone.log" >&2
      return 1
    fi
    sleep 0.05
  done
  echo "phonesim made no $link" >&2
  cat "$dir/phone.log" >&2
  return 1
}

stop_phone_checked() {
  local dir=$1 status=0
  if [ -n "${feeder:-}" ]; then
    kill "$feeder" 2>/dev/null || true
    wait "$feeder" 2>/dev/null || true
  fi
  if [ -n "${sim:-}" ]; then
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || status=$?
  fi
  feeder= sim=
  if [ "$status" -eq 3 ]; then
    echo "the phone heard command lines faster than the pacing allows (15 ms a byte):"
    grep -E 'unpaced|came faster' "$dir/phone.log" || true
    return 1
  fi
  return 0
}
