#!/usr/bin/env bash
# A measurement, not a test: how pharolet's stream starts. STARTS starts
# (default 20) of SECONDS each (default 5): "Turn On", SECONDS, "Turn Off".
# The first half restarts the program for every start, the second half
# switches one program on and off; the middle half (the second and third
# quarter) runs beside a busy process that keeps a core spinning. Every start
# is recorded from the null sink's monitor and checked by streamcheck from
# its first sample on (carrier 1234.5 Hz, so that no two frames are alike
# and a lost frame shows). One line per start, then the count of starts
# that came through whole.
#
#   start_series.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE [STARTS [SECONDS]]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"
STARTS=${E2E_ARGS[0]:-20}
ON_SECONDS=${E2E_ARGS[1]:-5}

RATE=8000
CARRIER=1234.5
BUSY_PID=

busy_on() {
  [ -z "$BUSY_PID" ] || return 0
  bash -c 'while :; do :; done' &
  BUSY_PID=$!
  STARTED_PIDS+=("$BUSY_PID")
}

busy_off() {
  [ -n "$BUSY_PID" ] || return 0
  kill "$BUSY_PID" 2>/dev/null || true
  wait "$BUSY_PID" 2>/dev/null || true
  BUSY_PID=
}

# One transmission into a fresh recording; prints streamcheck's verdict.
transmission() {
  local start_argument=$1
  e2e_start_recording "$RATE" "$WORKDIR/recording.raw"
  pharolet_switch_on
  sleep "$ON_SECONDS"
  pharolet_drive click "$ID_TRANSMIT_BUTTON" wait-text "$ID_TRANSMIT_BUTTON" "Turn On" 10000
  sleep 1
  e2e_stop_recording
  pharolet_check_recording "$RATE" "$CARRIER" 1 1000 "$start_argument" | tr -d '\r' | paste -sd ' ' -  || true
}

whole=0
half=$((STARTS / 2))
quarter=$((STARTS / 4))
for ((start = 1; start <= STARTS; start++)); do
  if [ "$start" -gt "$quarter" ] && [ "$start" -le $((STARTS - quarter)) ]; then busy_on; else busy_off; fi
  load=idle
  [ -z "$BUSY_PID" ] || load=busy
  if [ "$start" -le "$half" ]; then
    pharolet_start "$RATE"$'\r\n'"$CARRIER"$'\r\n' "$RATE"
    e2e_stop_recording
    verdict=$(transmission whole)
    pharolet_drive close wait-gone 10000
    e2e_wait_program_exit 10000
    e2e_unload_null_sink
    mode=restarted
  else
    if [ "$start" = $((half + 1)) ]; then
      pharolet_start "$RATE"$'\r\n'"$CARRIER"$'\r\n' "$RATE"
      e2e_stop_recording
      verdict=$(transmission whole)
    else
      verdict=$(transmission "$PHAROLET_RING_BUFFERS")
    fi
    mode="same program"
  fi
  cp "$WORKDIR/recording.raw" "$WORKDIR/start-$start.raw" # kept for a closer look
  case $verdict in *OK) whole=$((whole + 1)) ;; esac
  say "start $start ($mode, $load): $verdict"
done
busy_off
pharolet_drive close wait-gone 10000
e2e_wait_program_exit 10000
e2e_unload_null_sink
say "$whole of $STARTS starts whole from their first sample"
