# Sourced by the scenario and soak runners. start_phone DOSDEVICES DIR PHONESIM
# starts the simulated phone on a free COM port of DOSDEVICES, following
# DIR/phone.in, the file tsphost appends phone lines to (Windows programs can
# append to a plain file; phonesim reads a FIFO). Its output goes to
# DIR/phone.log. Sets port, sim and feeder; fails, saying why, when the phone
# does not come up.
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
  "$program" --link "$link" --commands "$dir/phone.fifo" >"$dir/phone.log" 2>&1 &
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
