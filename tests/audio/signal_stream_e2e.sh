#!/usr/bin/env bash
# End to end: `soundclock signal --device` plays into a null sink at
# 8000 Hz, parec records the sink's monitor, and streamcheck compares the
# recording with the synthesis' stream (the samples `soundclock signal -o`
# writes) sample for sample: from its first sound on, whole and in order,
# without a gap, then silence. The carrier is 1234.5 Hz, so no frame looks
# like the one before and a lost start could not pass for a whole one.
#
#   signal_stream_e2e.sh SOUNDCLOCK STREAMCHECK
set -euo pipefail

# shellcheck source=audio_e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/audio_e2e_lib.sh"
SOUNDCLOCK=$1 STREAMCHECK=$2
PLAY_S=20
audio_require_server

sink="soundclock_signal_$$"
load_sink "$sink" 8000
sleep 2.2  # what the sink rendered ahead before its latency was held
latency=()
if on_pipewire; then latency=(--latency-msec=100); fi
parec --device="$sink.monitor" --format=s16le --rate=8000 --channels=1 --raw "${latency[@]}" >"$WORK/recording.raw" &
recorder=$!
STARTED_PIDS+=("$recorder")
sleep 0.5
device=pulse:$sink
if on_pipewire; then device=pipewire:NODE=$sink; fi
STATUS=0
timeout -k 5 $((PLAY_S + 20)) "$SOUNDCLOCK" signal --device "$device" --seconds "$PLAY_S" --rate 8000 --carrier 1234.5 \
  2>"$WORK/signal.err" || STATUS=$?
sleep 1
kill "$recorder" 2>/dev/null || true
wait "$recorder" 2>/dev/null || true
say "soundclock signal --device: $(tail -n 1 "$WORK/signal.err")"
[ "$STATUS" = 0 ] || { cat "$WORK/signal.err" >&2; fail "soundclock signal --device ended with status $STATUS"; }
grep -q 'no underruns' "$WORK/signal.err" || fail "underruns while playing: $(grep underrun "$WORK/signal.err")"

"$STREAMCHECK" "$WORK/recording.raw" 8000 1234.5 $((PLAY_S - 2)) 0 any || fail "the recording is not the signal's stream"
say "soundclock signal --device end to end: OK"
