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

# The audio server's stream from Wine can still run dry, above all in the
# first second of a stream, when Wine hands samples over at about two
# thirds of their rate. The server then plays silence the program never
# sent, or drops the samples it held at the start; streamcheck counts the
# first as gaps and finds the recording's place in the stream for the
# second. A changed, lost or reordered sample after the start fails.
MAX_GAPS=20

# One transmission: settings file content ("" for none), the rate the sink
# runs at, and the carrier the synthesis must be checked with.
transmit_and_check() {
  local settings=$1 rate=$2 carrier=$3
  say "transmission at $rate Hz, carrier $carrier Hz (STANAG.SET: $(if [ -n "$settings" ]; then printf %q "$settings"; else echo none; fi))"
  pharolet_start "$settings" "$rate"
  pharolet_switch_on
  sleep 4
  pharolet_switch_off_and_close
  pharolet_check_recording "$rate" "$carrier" 2.0 "$MAX_GAPS"
}

transmit_and_check "" 8000 1500
transmit_and_check $'9600\r\n1800\r\n' 9600 1800
say "pharolet end to end: OK"
