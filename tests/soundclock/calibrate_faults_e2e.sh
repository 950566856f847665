#!/usr/bin/env bash
# soundclock calibrate on set-ups gone wrong, each provoked on null sinks of
# the private PulseAudio server at once, each named in words: where no
# figure can be trusted, status 2 and no figure; where it can, a warning.
#
#   no loop               the output played somewhere the input does not hear
#   no reference          --reference pps with nothing on channel 1
#   loop clipped          the sink's volume at 400 %
#   loop faint            the sink's volume at 20 % (a warning)
#   not the card's output another program's signal 0.75 % off comes back
#   reference disagrees   a second pulse 80 ppm off the system clock the
#                         null sink runs on (a warning)
#
#   calibrate_faults_e2e.sh SOUNDCLOCK MAKE_REFERENCE
set -uo pipefail

SOUNDCLOCK=$1 MAKE_REFERENCE=$2
# shellcheck source=../audio/audio_e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../audio/audio_e2e_lib.sh"
audio_require_server
on_pipewire && skip "the faults are provoked on PulseAudio"
SECONDS_TO_RUN=25
LIMIT=$((SECONDS_TO_RUN + 30))
RATE=8000

stereo_sink() {
  local module
  module=$(pactl load-module module-null-sink sink_name="$1" rate=$RATE channels=2) || fail "cannot load a null sink"
  SINK_MODULES+=("$module")
}
tag=$$
for sink in noloop elsewhere noref clipped faint foreign unheard disagree; do stereo_sink "${sink}_$tag"; done
pactl set-sink-volume "clipped_$tag" 400%
pactl set-sink-volume "faint_$tag" 20%
"$MAKE_REFERENCE" pps $RATE 80 $((SECONDS_TO_RUN + 10)) >"$WORK/pps80.wav" || fail "make_reference failed"
sleep 2.2  # what the sinks rendered ahead before anyone listened

run() {  # run NAME DEVICE_SINK PLAY_SINK ARGS...
  local name=$1 device=$2 play=$3
  shift 3
  start_soundclock "$name" "$LIMIT" calibrate --device "pulse:$device.monitor" --play "pulse:$play" --rate $RATE \
    --seconds "$SECONDS_TO_RUN" "$@"
  eval "PID_$name=$SOUNDCLOCK_PID"
  sleep 0.3  # one client at a time: docs/accuracy.md#references-live
}
run noloop "noloop_$tag" "elsewhere_$tag"
run noref "noref_$tag" "noref_$tag" --reference pps
run clipped "clipped_$tag" "clipped_$tag"
run faint "faint_$tag" "faint_$tag"
run foreign "foreign_$tag" "unheard_$tag"
start_soundclock foreign_signal "$LIMIT" signal --device "pulse:foreign_$tag" --rate 8060 --seconds $((SECONDS_TO_RUN + 5))
run disagree "disagree_$tag" "disagree_$tag" --reference pps --channel 1 --loop-channel 2
paplay --device="disagree_$tag" --channel-map=left "$WORK/pps80.wav" &
STARTED_PIDS+=($!)

FAILURES=0
# expect NAME STATUS PATTERN: the run's exit status and its words (all of them).
expect() {
  local name=$1 status=$2 pattern=$3 pid
  pid=$(eval echo "\$PID_$name")
  finish_soundclock "$name" "$pid"
  local words
  words=$(cat "$WORK/$name.out" "$WORK/$name.err")
  if [ "$STATUS" != "$status" ] || ! grep -Eq -- "$pattern" <<<"$words"; then
    show_run "$name"
    echo "FAIL: $name: expected status $status and: $pattern"
    FAILURES=$((FAILURES + 1))
  else
    say "$name: status $STATUS: $(grep -Eo -- "$pattern" <<<"$words" | head -n 1)"
  fi
}
expect noloop 2 'no test signal came back on input channel 1'
expect noref 2 'no usable reference on input channel 1 \(the second pulse\)'
expect clipped 2 'the loop is clipped'
expect faint 0 'warning: the loop comes back faint, at -[0-9.]+ dBFS'
expect foreign 2 'ppm beyond the nominal rates. ratio .*not this card.s output'
expect disagree 0 'warning: the receive clock against the reference, \+80\.[0-9]* ppm .* disagree by more than three uncertainties'
[ "$FAILURES" = 0 ] || exit 1
say "calibrate's set-up faults: each named"
