#!/usr/bin/env bash
# The editor in a real LV2 host: jalv.gtk3 (which embeds X11 UIs through suil) runs the bundle on a
# JACK server of the test's own (the dummy driver, no sound card) and a private Xvfb. The pointer
# drags the editor's Noise Reduce knob and clicks Bypass through XTest (xdotool); the plug-in's Gate
# Reduction output, which jalv prints, must follow: with silence at the input the gate closes to its
# floor, 24 dB at the default, 40 dB with the knob at the top, and 0 dB bypassed.
#
# Usage: jalv_editor_test.sh LV2_DIR WORK_DIR [--screenshot FILE]
#   --screenshot FILE  also writes jalv's whole window, once the knob is up, as PNG (the README's picture)
# Exits 77 (skipped) when JACK cannot start here. Every process it starts is stopped on the way out.
set -euo pipefail
lv2_dir=$(realpath -- "$1")
work=$2
screenshot=
if [ $# -eq 4 ] && [ "$3" = --screenshot ]; then
  screenshot=$(realpath -m -- "$4")
elif [ $# -ne 2 ]; then
  echo "usage: jalv_editor_test.sh LV2_DIR WORK_DIR [--screenshot FILE]" >&2
  exit 2
fi
uri=https://ostrel-audio.example/plugins/lumisere
server=lumisere-test-$$

for tool in Xvfb jackd jack_wait jalv.gtk3 xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (scripts/install-deps installs it)"; exit 77; }
done
[ -z "$screenshot" ] || command -v import >/dev/null || { echo "FAIL: import (imagemagick) is missing"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
pids=()

# Stops what we started, newest first: jalv, then the JACK server, then the X server.
stop_all() {
  local pid i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  # A client killed before it closed leaves its semaphore under the server's name.
  rm -f /dev/shm/jack_sem.*_"${server}"_* /dev/shm/jack_"${server}"_* 2>/dev/null || true
}
trap stop_all EXIT
trap "exit 1" INT TERM

fail() {
  echo "FAIL: $*"
  echo "--- jalv's errors:"; cat "$work/jalv.err" 2>/dev/null || true
  echo "--- jalv's last lines:"; tail -n 5 "$work/jalv.out" 2>/dev/null || true
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

# A private X server: it picks a free display number and writes it to the file.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_until 20 grep -q . "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display")

# A private JACK server; as root in a container it may not get realtime priority, so none is asked.
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
jackd --no-realtime -d dummy -r 48000 -p 512 >"$work/jackd.log" 2>&1 &
pids+=($!)
jack_up() { jack_wait -c 2>/dev/null | grep -qx running; }
# Until it runs, for 20 s at most, or gives up.
wait_until 20 eval 'jack_up || ! kill -0 "${pids[-1]}" 2>/dev/null' || true
if ! jack_up; then
  echo "SKIP: jackd did not start here:"
  cat "$work/jackd.log"
  exit 77
fi

LV2_PATH=$lv2_dir NO_AT_BRIDGE=1 stdbuf -oL jalv.gtk3 --print-controls "$uri" >"$work/jalv.out" 2>"$work/jalv.err" &
jalv=$!
pids+=("$jalv")

# Waits up to $1 seconds for the command after $2 to succeed; fails saying $2 when it does not, or
# at once when jalv has ended.
expect_within() {
  local seconds=$1 what=$2
  shift 2
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    kill -0 "$jalv" 2>/dev/null || fail "jalv ended: $what"
    sleep 0.1
  done
  fail "$what"
}

# The editor: the 840 x 520 window that suil placed at the origin of jalv's socket, with no children.
editor_window() {
  local id
  id=$(xwininfo -root -tree 2>/dev/null | awk '/\(has no name\): \(\)  840x520\+0\+0/ {id = $1} END {print id}')
  [ -n "$id" ] && xwininfo -id "$id" -children 2>/dev/null | grep -q '^  *0 children' && echo "$id"
}
expect_within 60 "no editor window appeared in jalv" editor_window >/dev/null
editor=$(editor_window)
jalv_window=$(xwininfo -root -tree | awk '/"Ostrel Lumisere": \("jalv.gtk3"/ {print $1; exit}')
echo "editor window $editor in jalv's window $jalv_window"

# Lines jalv printed since line $1 that match $2.
printed_since() {
  tail -n +"$1" "$work/jalv.out" | grep -qx "$2"
}
expect_within 30 "the gate does not close to 24 dB at the defaults" printed_since 1 'gate_reduction = 24.000000'

# Noise Reduce (centre 535, 270) from -24 dB dragged up 100 pixels in steps: -40 dB.
mark=$(wc -l <"$work/jalv.out")
xdotool mousemove --window "$editor" 535 270 mousedown 1
for rise in 10 20 30 40 50 60 70 80 90 100; do
  xdotool mousemove --window "$editor" 535 $((270 - rise))
  sleep 0.05
done
xdotool mouseup 1
expect_within 30 "the Noise Reduce drag did not reach the plug-in" printed_since "$mark" 'gate_reduction = 40.000000'
echo "Noise Reduce dragged to -40 dB: jalv prints gate_reduction = 40"

if [ -n "$screenshot" ]; then
  sleep 0.5  # the meter's smoothing settles
  import -window "$jalv_window" -strip "$screenshot"
  echo "wrote $screenshot"
fi

# Bypass (the button at 230, 476, 95 x 28): the plug-in passes the input through and reports nothing.
mark=$(wc -l <"$work/jalv.out")
xdotool mousemove --window "$editor" 277 490 click 1
expect_within 30 "the Bypass click did not reach the plug-in" printed_since "$mark" 'gate_reduction = 0.000000'
echo "Bypass clicked: jalv prints gate_reduction = 0"

! grep -Ei 'unsupported protocol|out of range|error' "$work/jalv.err" || fail "jalv complained about the UI"
echo "the editor runs in jalv, and its edits reach the plug-in"
