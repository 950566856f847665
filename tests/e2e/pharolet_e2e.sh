#!/usr/bin/env bash
# End to end: pharolet.exe under Wine plays into a null sink (PulseAudio,
# or PipeWire with E2E_AUDIO_SERVER=pipewire); the sink's monitor is
# recorded and must equal, sample for sample, the stream the synthesis
# library produces, from its first sample after the leading silence to the
# silence after "Turn Off". Closing the window must end the process.
#
#   pharolet_e2e.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE
#
# Needs an X display (DISPLAY) and the audio server (./run test starts
# them); without them the test is skipped (exit 77).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"

# The audio server's stream from Wine can still run dry on a busy machine;
# the server then plays silence the program never sent, which streamcheck
# counts as gaps. Nothing may be lost, the first sample included, and a
# changed, repeated or reordered sample fails.
MAX_GAPS=20
START=whole
MAX_LOSSES=0

# One transmission: settings file content ("" for none), the rate the sink
# runs at, and the carrier the synthesis must be checked with.
transmit_and_check() {
  local settings=$1 rate=$2 carrier=$3
  say "transmission at $rate Hz, carrier $carrier Hz (STANAG.SET: $(if [ -n "$settings" ]; then printf %q "$settings"; else echo none; fi))"
  pharolet_start "$settings" "$rate"
  pharolet_switch_on
  sleep 4
  pharolet_switch_off_and_close
  pharolet_check_recording "$rate" "$carrier" 2.0 "$MAX_GAPS" "$START" "$MAX_LOSSES"
}

transmit_and_check "" 8000 1500
transmit_and_check $'9600\r\n1800\r\n' 9600 1800
# At 1500 Hz (and 1800 Hz at 9600) every frame of 1024 samples holds the
# same samples, so a start that lost whole frames would look whole; at
# 1234.5 Hz no two frames are alike.
transmit_and_check $'8000\r\n1234.5\r\n' 8000 1234.5
say "pharolet end to end: OK"
