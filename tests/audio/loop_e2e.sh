#!/usr/bin/env bash
# End to end: `soundclock loop` plays the signal into a null sink at
# 8000 Hz and records the sink's monitor at 8008 and at 7996 Hz; the
# server's rate conversion makes the recording exactly a card 1000 ppm
# fast, or 500 ppm slow. Each must read within 0.01 ppm after a minute.
#
#   loop_e2e.sh SOUNDCLOCK [SECONDS]
#
# On PulseAudio the two loops run at once, each on a sink of its own. On
# PipeWire (E2E_AUDIO_SERVER=pipewire) the ALSA plugin records a sink's
# monitor only as the default source, so the 8008 Hz loop shares its sink
# with a `soundclock measure --device` at 7996 Hz.
set -euo pipefail

# shellcheck source=audio_e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/audio_e2e_lib.sh"
SOUNDCLOCK=$1
SECONDS_TO_MEASURE=${2:-60}
TOLERANCE_PPM=0.01
audio_require_server
LIMIT=$((SECONDS_TO_MEASURE + 30))

# check NAME EXPECTED_PPM: the run's exit status and its figure.
check() {
  finish_soundclock "$1" "$3"
  say "$1: $OUTPUT"
  if [ "$STATUS" != 0 ]; then
    show_run "$1"
    fail "$1 did not read $2 ppm within $TOLERANCE_PPM ppm"
  fi
}

common=(--seconds "$SECONDS_TO_MEASURE" --rate 8000 --carrier 1500 --tolerance "$TOLERANCE_PPM")
if on_pipewire; then
  load_sink "soundclock_loop_$$" 8000 default
  start_soundclock measure_7996 "$LIMIT" measure --device pipewire --rate 7996 --signal-rate 8000 --carrier 1500 \
    --seconds "$SECONDS_TO_MEASURE" --expect -500 --tolerance "$TOLERANCE_PPM"
  slow=$SOUNDCLOCK_PID
  start_soundclock loop_8008 "$LIMIT" loop --play pipewire --record pipewire --record-rate 8008 --expect 1000 "${common[@]}"
  fast=$SOUNDCLOCK_PID
  check loop_8008 1000 "$fast"
  check measure_7996 -500 "$slow"
else
  load_sink "soundclock_fast_$$" 8000
  load_sink "soundclock_slow_$$" 8000
  sleep 2.2  # what the sinks rendered ahead before their latency was held
  start_soundclock loop_8008 "$LIMIT" loop --play "pulse:soundclock_fast_$$" --record "pulse:soundclock_fast_$$.monitor" \
    --record-rate 8008 --expect 1000 "${common[@]}"
  fast=$SOUNDCLOCK_PID
  start_soundclock loop_7996 "$LIMIT" loop --play "pulse:soundclock_slow_$$" --record "pulse:soundclock_slow_$$.monitor" \
    --record-rate 7996 --expect -500 "${common[@]}"
  slow=$SOUNDCLOCK_PID
  check loop_8008 1000 "$fast"
  check loop_7996 -500 "$slow"
fi
say "soundclock loop end to end: OK"
