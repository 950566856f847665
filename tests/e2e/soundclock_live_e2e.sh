#!/usr/bin/env bash
# End to end: soundclock.exe on Wine's wave devices (the winmm backend), on
# a PulseAudio null sink at 8000 Hz whose monitor is the default source.
# The server's rate conversion makes a recording at 8008 Hz exactly a card
# 1000 ppm fast, one at 7996 Hz a card 500 ppm slow. Cases, each with
# soundclock.exe processes at once on the same sink:
#
#   loop      `loop --play 0 --record 0 --record-rate 8008` plays the signal
#             and records it back: +1000 ppm; beside it `measure --device 0
#             --rate 7996` records the loop's signal: -500 ppm; and `rate
#             --device 0` the capture at 8000 and at 8008 Hz against the
#             system clock, which times the sink: 0 within four of its
#             uncertainties (docs/accuracy.md#rate-live-bound). (A playback
#             under Wine cannot be timed: its buffers come back when Wine's
#             driver takes them, not when they play.)
#   pharolet  pharolet.exe plays; `measure --device 0 --rate 7996` reads
#             -500 ppm and, beside it, `measure --device PulseAudio --rate
#             8008` (Wine's default device by its name) +1000 ppm; the
#             first capture, kept with --save, read again as a WAV file
#             gives -500 ppm too.
#   lost      the sink unloaded 20 s into a loop and a measure (the
#             server's only sink, so no stream moves to another): each ends
#             within LOST_WAIT_S with exit status 2, "device lost" with its
#             time, and the result so far marked partial.
#
# Every offset within 0.01 ppm, or the test fails.
#
#   soundclock_live_e2e.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE SOUNDCLOCK_EXE loop|pharolet|lost
#
# Needs an X display (DISPLAY) and a PulseAudio server reachable with pactl
# (./run test starts both); without them the test is skipped (exit 77).
set -euo pipefail

# shellcheck source=e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"
SOUNDCLOCK=${E2E_ARGS[0]}
CASE=${E2E_ARGS[1]:-}

SECONDS_OF_AUDIO=40
TOLERANCE_PPM=0.01
# The largest uncertainty a capture's rate may report against the system
# clock under Wine (broken stamps, not a busy machine).
RATE_LIMIT_PPM=60
# Wine's device 0 follows the server's default sink and source.
WINE_DEFAULT_DEVICE_NAME=PulseAudio

RUNS=()
RUN_PIDS=()

# soundclock_run NAME EXPECTED_PPM ARGS...: soundclock.exe ARGS in WORKDIR,
# in the background, expecting EXPECTED_PPM.
soundclock_run() {
  local name=$1 expected=$2
  shift 2
  (cd "$WORKDIR" && exec "$WINE" "$SOUNDCLOCK" "$@" --expect "$expected" --tolerance "$TOLERANCE_PPM" \
    >"$name.out" 2>"$name.log") &
  RUN_PIDS+=($!)
  STARTED_PIDS+=($!)
  RUNS+=("$name $expected")
}

# Waits for every run; each must have exited 0 (its reading within the tolerance).
soundclock_check_runs() {
  local i name expected status failed=0
  for i in "${!RUNS[@]}"; do
    read -r name expected <<<"${RUNS[$i]}"
    status=0
    wait "${RUN_PIDS[$i]}" || status=$?
    say "$name (expected $expected ppm): $(tr -d '\r' <"$WORKDIR/$name.out")"
    if [ "$status" != 0 ]; then
      tr -d '\r' <"$WORKDIR/$name.log" | tail -n 20 >&2
      printf 'FAIL: %s did not read %s ppm within %s ppm (exit %s)\n' "$name" "$expected" "$TOLERANCE_PPM" "$status" >&2
      failed=1
    fi
  done
  [ "$failed" = 0 ] || exit 1
}

loop_case() {
  say "soundclock.exe loop at 8008 Hz, and a measure at 7996 Hz beside it"
  e2e_new_workdir
  e2e_load_null_sink 8000
  loopback_source
  e2e_wait_sink_settled
  soundclock_run loop_8008 1000 loop --play 0 --record 0 --record-rate 8008 --seconds "$SECONDS_OF_AUDIO"
  # Starts once the loop plays, and ends before it does.
  sleep 3
  soundclock_run measure_7996 -500 measure --device 0 --rate 7996 --seconds $((SECONDS_OF_AUDIO - 5))
  local rate pids=()
  for rate in 8000 8008; do
    (cd "$WORKDIR" && exec "$WINE" "$SOUNDCLOCK" rate --device 0 --rate $rate --seconds $((SECONDS_OF_AUDIO - 5)) --json \
      --quiet >rate_$rate.json 2>rate_$rate.log) &
    pids+=($!)
    STARTED_PIDS+=($!)
  done
  soundclock_check_runs
  for rate in 8000 8008; do
    wait "${pids[0]}" || true
    pids=("${pids[@]:1}")
    check_rate "$WORKDIR/rate_$rate.json" "capture at $rate Hz"
  done
  e2e_unload_null_sink
}

# check_rate FILE NAME: 0 ppm within four uncertainties, and an uncertainty
# that means something.
check_rate() {
  local ppm u
  ppm=$(grep -o '"ppm":-\{0,1\}[0-9.]*' "$1" | head -n 1 | cut -d: -f2)
  u=$(grep -o '"uncertainty_ppm":[0-9.]*' "$1" | head -n 1 | cut -d: -f2)
  say "$2 against the system clock: ${ppm:-no figure} ppm +- ${u:-?} ppm"
  [ -n "$ppm" ] && awk -v p="$ppm" -v u="$u" -v limit="$RATE_LIMIT_PPM" \
    'BEGIN { exit !((p < 0 ? -p : p) <= 4 * u && u <= limit && u > 0) }' ||
    fail "$2: not 0 within four uncertainties, or an uncertainty beyond $RATE_LIMIT_PPM ppm: $(tr -d '\r' <"$1")"
}

pharolet_case() {
  say "pharolet.exe plays; soundclock.exe measures at 7996 and at 8008 Hz"
  pharolet_start "" 8000
  loopback_source
  pharolet_switch_on
  soundclock_run measure_7996 -500 measure --device 0 --rate 7996 --seconds "$SECONDS_OF_AUDIO" --save capture_7996.wav
  soundclock_run measure_8008 1000 measure --device "$WINE_DEFAULT_DEVICE_NAME" --rate 8008 --seconds "$SECONDS_OF_AUDIO"
  soundclock_check_runs
  pharolet_switch_off_and_close
  # The capture kept, measured again as a file: the same figure.
  RUNS=() RUN_PIDS=()
  soundclock_run file_7996 -500 measure capture_7996.wav --signal-rate 8000 --carrier 1500
  soundclock_check_runs
}

# The capture's stall limit (6.1 s with the 4 s ring) and the program's
# own ending, with room for a busy machine.
LOST_WAIT_S=30

# wait_with_limit PID SECONDS: the process's exit status in WAIT_STATUS;
# fails when it is still running after SECONDS.
wait_with_limit() {
  local pid=$1 limit=$2 waited=0
  while kill -0 "$pid" 2>/dev/null; do
    [ "$waited" -lt $((limit * 10)) ] || fail "a soundclock.exe run did not end within $limit s of the device's loss"
    sleep 0.1
    waited=$((waited + 1))
  done
  WAIT_STATUS=0
  wait "$pid" || WAIT_STATUS=$?
}

lost_case() {
  say "the sink unloaded 20 s into soundclock.exe loop and measure"
  e2e_new_workdir
  e2e_load_null_sink 8000
  loopback_source
  local sinks
  sinks=$(pactl list short sinks | wc -l)
  if [ "$sinks" != 1 ]; then
    say "skipped: the server has $sinks sinks, and the streams would move to another"
    exit 77
  fi
  e2e_wait_sink_settled
  (cd "$WORKDIR" && exec "$WINE" "$SOUNDCLOCK" loop --play 0 --record 0 --record-rate 8008 --seconds 60 \
    >lost_loop.out 2>lost_loop.log) &
  local loop_pid=$!
  STARTED_PIDS+=("$loop_pid")
  # As in the loop case: the measure starts once the loop plays.
  sleep 3
  (cd "$WORKDIR" && exec "$WINE" "$SOUNDCLOCK" measure --device 0 --rate 7996 --seconds 60 --json \
    >lost_measure.out 2>lost_measure.log) &
  local measure_pid=$!
  STARTED_PIDS+=("$measure_pid")
  sleep 17
  pactl unload-module "$NULL_SINK_MODULE"
  NULL_SINK_MODULE=
  local name pid status output messages
  for name in lost_loop lost_measure; do
    pid=$loop_pid
    [ "$name" = lost_measure ] && pid=$measure_pid
    wait_with_limit "$pid" "$LOST_WAIT_S"
    status=$WAIT_STATUS
    output=$(tr -d '\r' <"$WORKDIR/$name.out")
    messages=$(tr -d '\r' <"$WORKDIR/$name.log")
    say "$name: exit $status: $output"
    say "$name: $(grep -m1 'lost' <<<"$messages" || true)"
    [ "$status" = 2 ] || fail "$name: exit $status, not 2"
    grep -q 'device lost at [0-9.]* s' <<<"$messages" || fail "$name: no \"device lost at ... s\" message"
    grep -q 'partial' <<<"$output" || fail "$name: the result is not marked partial"
  done
  grep -q 'clock offset +\(999\.9\|1000\.0\)' "$WORKDIR/lost_loop.out" || fail "lost_loop: no +1000 ppm in the partial result"
  grep -q '"ppm":-\(499\.9\|500\.0\)' "$WORKDIR/lost_measure.out" || fail "lost_measure: no -500 ppm in the partial result"
}

case "$CASE" in
  loop) loop_case ;;
  pharolet) pharolet_case ;;
  lost) lost_case ;;
  *) fail "the case must be loop, pharolet or lost, not \"$CASE\"" ;;
esac
say "soundclock.exe on the devices ($CASE): OK"
