#!/usr/bin/env bash
# End to end: pharolet.exe plays into a PulseAudio null sink at 8000 Hz and
# quorvane.exe records the sink's monitor, both under Wine. With the same
# settings the correlation peak stands at one lag. A receiver run at 8008
# (or 7992) Hz gets the same sound converted by the server to its own rate:
# exactly a receiver clock 0.1 % fast (slow), so the peak moves by 0.512
# lags per block, until the trackbar's correction (position 500, or 1500)
# makes it stand still again. Closing the window ends the program.
#
#   quorvane_e2e.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE
#
# Needs an X display (DISPLAY) and a PulseAudio server reachable with pactl
# (./run test starts both); without them the test is skipped (exit 77).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"

# At least 40 blocks of 1024 samples (128 ms each at 8000 Hz).
WATCH_MS=5600
# After a start or a trackbar move: the capture queue (up to a second) and
# the two blocks the correlation window spans are worked off.
SETTLE_S=2
# A drift must come out within this much of 0.512 lags per block.
DRIFT_TOLERANCE=0.1

# quorvane in a work directory of its own, with SETTINGS as its STANAG.SET
# (none when empty).
receiver_start() {
  e2e_new_workdir
  if [ -n "$1" ]; then printf '%s' "$1" >"$WORKDIR/STANAG.SET"; fi
  quorvane_start
}

# Closing the window must end the process.
receiver_close() {
  quorvane_drive close wait-gone 10000
  wait_pid_exit "$QUORVANE_PID" 10000 || fail "quorvane did not end within 10 s of its window closing"
}

# Prints the fitted drift in lags per block and the spread of the readings,
# for a receiver at RATE samples per second with correction CORRECTION.
peak_figures() {
  local rate=$1 correction=$2
  quorvane_watch_peak "$WATCH_MS" | awk -v rate="$rate" -v c="$correction" '
    { n++; t = $1 / 1000; sx += t; sy += $2; sxx += t * t; sxy += t * $2
      if (n == 1 || $2 < low) low = $2; if (n == 1 || $2 > high) high = $2 }
    END {
      slope = n > 1 && (n * sxx - sx * sx) > 0 ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0
      blocks_per_second = rate / 1024 / (1 + c)
      printf "%.3f %d %d\n", slope / blocks_per_second, high - low, n
    }'
}

# A jump in the audio path (samples Wine or the server dropped or filled
# in) moves the peak by many lags at once and spoils one watch; a drift or
# a trace that does not stand still spoils every one. Each check therefore
# watches up to WATCHES times and passes on the first good watch, reporting
# each one.
WATCHES=3

expect_still() {
  local what=$1 rate=$2 correction=$3 drift spread readings attempt
  for attempt in $(seq "$WATCHES"); do
    read -r drift spread readings < <(peak_figures "$rate" "$correction")
    say "$what: the peak moved $spread lags over $WATCH_MS ms ($readings readings, fit $drift lags per block)"
    [ "$spread" -gt 1 ] || return 0
  done
  fail "$what: the peak does not stand still (it spread over $spread lags in each of $WATCHES watches)"
}

expect_drift() {
  local what=$1 rate=$2 expected=$3 drift spread readings attempt
  for attempt in $(seq "$WATCHES"); do
    read -r drift spread readings < <(peak_figures "$rate" 0)
    say "$what: the peak moves $drift lags per block (expected $expected)"
    awk -v d="$drift" -v e="$expected" -v t="$DRIFT_TOLERANCE" 'BEGIN { exit !(d >= e - t && d <= e + t) }' &&
      return 0
  done
  fail "$what: the peak moves $drift lags per block, not $expected, in each of $WATCHES watches"
}

expect_processing() {
  local what=$1 readings
  quorvane_drive trackbar "$ID_CLOCK_TRACKBAR" 0 >/dev/null
  readings=$(quorvane_watch_peak 3000 | wc -l)
  say "$what: $readings peak readings within 3 s with the trackbar at 0"
  [ "$readings" -ge 3 ] || fail "$what: the peak no longer follows the trackbar: is quorvane still processing?"
}

# A receiver at RATE: the drift at trackbar 1000, then still at POSITION.
receiver_with_clock_error() {
  local rate=$1 drift=$2 position=$3 label=$4 correction=$5
  say "receiver at $rate Hz"
  receiver_start "$rate"$'\r\n1500\r\n'
  sleep "$SETTLE_S"
  expect_drift "$rate Hz, no correction" "$rate" "$drift"
  quorvane_drive trackbar "$ID_CLOCK_TRACKBAR" "$position" wait-text "$ID_CLOCK_LABEL" "$label" 5000
  sleep "$SETTLE_S"
  expect_still "$rate Hz, trackbar at $position ($label)" "$rate" "$correction"
  expect_processing "$rate Hz"
  receiver_close
}

say "transmitter at 8000 Hz into the null sink"
pharolet_start "" 8000
loopback_source
pharolet_switch_on

say "receiver with the same settings"
receiver_start ""
sleep "$SETTLE_S"
expect_still "same settings" 8000 0
expect_processing "same settings"
receiver_close

receiver_with_clock_error 8008 0.512 500 "Clock error 0.100%" 0.001
receiver_with_clock_error 7992 -0.512 1500 "Clock error -0.100%" -0.001

pharolet_switch_off_and_close
say "quorvane end to end: OK"
