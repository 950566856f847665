#!/usr/bin/env bash
# End to end: soundclock on devices that fail, each run with a time limit.
#   - a rate the device refuses (PipeWire's plugin held at 48000 Hz): exit
#     2 with the device's words and what was asked;
#   - the null sink unloaded 20 s into a loop and a measure: a message with
#     the time, the result for what was measured, marked partial, exit 2;
#   - Ctrl-C 20 s into a live measure: the result, exit status as for a
#     file (0 within --expect), the CSV complete, the saved WAV measurable
#     to the same line.
# The unload and the Ctrl-C runs share the 20 s and the sink.
#
#   device_faults_e2e.sh SOUNDCLOCK
set -euo pipefail

# shellcheck source=audio_e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/audio_e2e_lib.sh"
SOUNDCLOCK=$1
RUN_S=20
audio_require_server
FAILURES=0

# expect NAME STATUS STDOUT_REGEX STDERR_REGEX: the finished run's status
# and words.
expect() {
  local name=$1 status=$2 out=$3 err=$4 messages
  messages=$(cat "$WORK/$name.err")
  if [ "$STATUS" != "$status" ] || ! grep -Ezq -- "$out" <<<"$OUTPUT" || ! grep -Ezq -- "$err" <<<"$messages"; then
    show_run "$name"
    printf 'FAIL: %s: expected exit %s, output matching %s, messages matching %s\n' "$name" "$status" "$out" "$err"
    FAILURES=$((FAILURES + 1))
  else
    say "$name: exit $STATUS: ${OUTPUT:-$(tail -n 1 "$WORK/$name.err")}"
  fi
}

# A rate the device refuses: only PipeWire's plugin can be held at one.
if [ -n "${SOUNDCLOCK_PIPEWIRE_RUNTIME:-}" ] &&
  (E2E_AUDIO_SERVER=pipewire XDG_RUNTIME_DIR=$SOUNDCLOCK_PIPEWIRE_RUNTIME audio_use_pipewire_plugin >/dev/null); then
  for command in "measure --device pipewire:RATE=48000 --rate 8000 --seconds 5" "signal --device pipewire:RATE=48000 --seconds 5"; do
    # shellcheck disable=SC2086
    (E2E_AUDIO_SERVER=pipewire XDG_RUNTIME_DIR=$SOUNDCLOCK_PIPEWIRE_RUNTIME
      audio_use_pipewire_plugin
      exec timeout -k 5 30 "$SOUNDCLOCK" $command) >"$WORK/rate.out" 2>"$WORK/rate.err" && STATUS=0 || STATUS=$?
    OUTPUT=$(cat "$WORK/rate.out")
    expect rate 2 '' '(capture|playback) device "pipewire:RATE=48000" \((at least )?1 channel at 8000 Hz\) refuses 8000 Hz: .*it offers 48000 Hz'
  done
else
  say "a refused rate: skipped (no PipeWire stack or plugin)"
fi

# One sink: when a sink goes, PulseAudio moves its streams to another if
# there is one (as a desktop moves them from a USB card pulled out to
# the next card), and nothing would be lost.
sink=soundclock_faults_$$
load_sink "$sink" 8000
sleep 2.2  # what the sink rendered ahead before its latency was held
start_soundclock lost_loop $((RUN_S + 40)) loop --play "pulse:$sink" --record "pulse:$sink.monitor" --record-rate 8008 \
  --rate 8000 --carrier 1500
lost_loop=$SOUNDCLOCK_PID
start_soundclock lost_measure $((RUN_S + 40)) measure --device "pulse:$sink.monitor" --rate 7996 --signal-rate 8000 \
  --carrier 1500 --json
lost_measure=$SOUNDCLOCK_PID
start_soundclock interrupted $((RUN_S + 40)) measure --device "pulse:$sink.monitor" --rate 8008 --signal-rate 8000 \
  --carrier 1500 --expect 1000 --tolerance 0.05 --csv "$WORK/interrupted.csv" --save "$WORK/interrupted.wav"
interrupted=$SOUNDCLOCK_PID
sleep "$RUN_S"
# To soundclock itself, once, as Ctrl-C does: a SIGINT to the timeout
# wrapper reaches it twice (timeout passes it on and signals its group),
# and a second Ctrl-C ends the program at once, by design.
pkill -INT -P "$interrupted" 2>/dev/null || true
finish_soundclock interrupted "$interrupted"
expect interrupted 0 'clock offset \+(999\.9|1000\.0)[0-9]* ppm ' 'stopped by Ctrl-C after [0-9.]+ s'

sinks=$(pactl list short sinks | wc -l)
if [ "$sinks" = 1 ]; then
  pactl unload-module "$LAST_SINK_MODULE"
  SINK_MODULES=()
  finish_soundclock lost_loop "$lost_loop"
  expect lost_loop 2 'clock offset \+(999\.9|1000\.0)[0-9]* ppm .*; partial: device lost at [0-9.]+ s of the (recording|signal): the (capture|playback) device "pulse:[^"]*" failed' \
    'device lost at [0-9.]+ s of the (recording|signal)'
  finish_soundclock lost_measure "$lost_measure"
  expect lost_measure 2 '"ppm":-(499\.9|500\.0)[0-9]*,.*"partial":true,"partial_reason":"device lost at [0-9.]+ s of the recording' \
    'device lost at [0-9.]+ s of the recording'
else
  say "the sink unloaded: skipped (the server has $sinks sinks: the streams would move to another)"
fi

# What Ctrl-C left behind: the CSV whole, the WAV's header fixed (it
# measures to the same line).
rows=$(grep -c ',used$' "$WORK/interrupted.csv" || true)
last=$(tail -n 1 "$WORK/interrupted.csv")
if [ "$rows" -lt 130 ] || [ "$(tr -cd , <<<"$last" | wc -c)" != 7 ]; then
  echo "FAIL: the CSV after Ctrl-C: $rows used rows, last line: $last"
  FAILURES=$((FAILURES + 1))
fi
again=$(timeout 60 "$SOUNDCLOCK" measure "$WORK/interrupted.wav" --signal-rate 8000 --carrier 1500 --quiet 2>&1) || true
if [ "$again" != "$(cat "$WORK/interrupted.out")" ]; then
  printf 'FAIL: the saved capture measures to\n  %s\nnot\n  %s\n' "$again" "$(cat "$WORK/interrupted.out")"
  FAILURES=$((FAILURES + 1))
fi

[ "$FAILURES" = 0 ] || fail "$FAILURES fault case(s) failed"
say "soundclock device faults: OK"
