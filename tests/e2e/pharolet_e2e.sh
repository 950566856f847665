#!/usr/bin/env bash
# End to end: pharolet.exe under Wine plays into a PulseAudio null sink; the
# sink's monitor is recorded and must equal, sample for sample, the stream
# the synthesis library produces, between the leading silence and the
# silence after "Turn Off". Closing the window must end the process.
#
#   pharolet_e2e.sh WINE PHAROLET_EXE UIDRIVER_EXE STREAMCHECK_EXE
#
# Needs an X display (DISPLAY) and a PulseAudio server reachable with pactl
# (./run test starts both); without them the test is skipped (exit 77).
set -euo pipefail

WINE=$1 PHAROLET=$2 UIDRIVER=$3 STREAMCHECK=$4
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=e2e_lib.sh
source "$HERE/e2e_lib.sh"

e2e_require_environment

# Under Wine the audio server's stream from the program can run dry: Wine
# releases the first second of a new stream at about two thirds of its rate,
# and a busy machine delays it further. The server then plays silence that
# the program never sent. Such inserted silence is counted and allowed; a
# changed, lost or reordered sample is not.
MAX_GAPS=20

# One transmission: settings file content ("" for none), the rate the sink
# runs at, and the settings the synthesis must be checked with.
transmit_and_check() {
  local settings=$1 rate=$2 carrier=$3
  say "transmission at $rate Hz, carrier $carrier Hz (STANAG.SET: $(if [ -n "$settings" ]; then printf %q "$settings"; else echo none; fi))"
  e2e_new_workdir
  if [ -n "$settings" ]; then printf '%s' "$settings" >"$WORKDIR/STANAG.SET"; fi

  e2e_load_null_sink "$rate"
  e2e_start_recording "$rate" "$WORKDIR/recording.raw"
  e2e_start_program "$PHAROLET"

  drive window "Stanag 4285 Pharolet" 30000 wait-text 1002 "Turn On"
  # The caption changes only when the device reports that it is open.
  drive click 1002 wait-text 1002 "Turn Off" 10000
  sleep 4
  drive click 1002 wait-text 1002 "Turn On" 10000
  sleep 1
  e2e_stop_recording

  drive close wait-gone 10000
  e2e_wait_program_exit 10000
  e2e_unload_null_sink

  "$WINE" "$STREAMCHECK" "$(winepath_of "$WORKDIR/recording.raw")" "$rate" "$carrier" 2.0 "$MAX_GAPS"
}

drive() {
  "$WINE" "$UIDRIVER" window "Stanag 4285 Pharolet" 30000 "$@"
}

transmit_and_check "" 8000 1500
transmit_and_check $'9600\r\n1800\r\n' 9600 1800
say "pharolet end to end: OK"
