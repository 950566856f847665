#!/usr/bin/env bash
# soundclock rate on a null sink of the private audio server. The null sink
# at 8000 Hz is timed by the system clock, so every stream on it runs at
# exactly its nominal rate in system time: capture (from the sink's monitor)
# and playback, at 8000 and 8008 Hz, must read 0 ppm within four of their
# uncertainties (docs/accuracy.md#rate-live-bound). The four cases run at
# once, each for SECONDS, and beside them the loop: `loop --record-rate
# 8008` plays the signal into the sink and records it back, which the
# server's rate conversion makes a card 1000 ppm fast, and `measure --rate
# 7996` records the same signal, a card 500 ppm slow: each within 0.01 ppm;
# and the offset the loop's two rates imply (the nominal rates' ratio in
# it) agrees with the signal's.
#
#   rate_e2e.sh SECONDS DEVICE SOUNDCLOCK [RUNNER...]
#
# DEVICE is what --device gets (ALSA: pulse; winmm: the default, 0).
# RATE_RUNS=N repeats the set N times and prints each case's mean, scatter
# and mean reported uncertainty; RATE_LIMIT_PPM (default 50: broken stamps, not a busy machine) is the largest
# uncertainty a run may report. E2E_AUDIO_SERVER=pipewire: the PipeWire stack.
set -uo pipefail

ARGUMENTS=("$@")
RUN_SECONDS=$1 DEVICE=$2 SOUNDCLOCK=$3
shift 3
RUNNER=("$@")
RUNS=${RATE_RUNS:-1}
LIMIT_PPM=${RATE_LIMIT_PPM:-50}
# shellcheck source=../e2e/e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/e2e_lib.sh"

if e2e_on_pipewire; then
  if [ -z "${SOUNDCLOCK_PIPEWIRE_RUNTIME:-}" ]; then echo "skipped: no PipeWire stack (SOUNDCLOCK_PIPEWIRE_RUNTIME)"; exit 77; fi
  export XDG_RUNTIME_DIR=$SOUNDCLOCK_PIPEWIRE_RUNTIME
  unset PULSE_SERVER
  timeout 10 pactl info 2>/dev/null | grep -q 'on PipeWire' || { echo "skipped: no PipeWire server"; exit 77; }
  # Natively through PipeWire's own ALSA plugin, as a desktop with
  # pipewire-alsa has it (under Wine, winmm reaches its pulse layer).
  if [ "$DEVICE" = pulse ]; then
    # shellcheck source=../audio/pipewire_alsa.sh
    source "$(dirname "${BASH_SOURCE[0]}")/../audio/pipewire_alsa.sh"
    use_pipewire_alsa_plugin || { echo "skipped: $PIPEWIRE_ALSA_MISSING"; exit 77; }
    DEVICE=pipewire
  fi
elif ! timeout 10 pactl info >/dev/null 2>&1; then
  echo "skipped: no PulseAudio server"
  exit 77
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/rate_e2e.XXXXXX")
PREVIOUS_DEFAULT_SOURCE=$(pactl get-default-source 2>/dev/null || true)
rate_cleanup() {
  e2e_cleanup
  if [ -n "$PREVIOUS_DEFAULT_SOURCE" ]; then pactl set-default-source "$PREVIOUS_DEFAULT_SOURCE" >/dev/null 2>&1 || true; fi
  rm -rf "$WORK"
}
trap rate_cleanup EXIT

e2e_load_null_sink 8000
pactl set-default-source "$NULL_SINK_NAME.monitor"
# The ALSA backend reaches the server through its PulseAudio plugin, which
# takes these (Wine's driver follows the defaults set above).
export PULSE_SINK=$NULL_SINK_NAME PULSE_SOURCE=$NULL_SINK_NAME.monitor
e2e_wait_sink_settled

CASES=("capture 8000" "playback 8000" "capture 8008" "playback 8008")
# RATE_SIDES=capture: the capture cases alone and no loop. Under Wine a
# playback's stamps time Wine's feed of the server (its buffers come back
# when Wine takes them), which under load runs hundreds of ppm slow while
# the server fills the gaps: not the device's clock.
if [ "${RATE_SIDES:-both}" = capture ]; then CASES=("capture 8000" "capture 8008"); fi
# The first field NAME of FILE's JSON.
json_number() { grep -o "\"$1\":-\{0,1\}[0-9.]*" "$2" | head -n 1 | cut -d: -f2; }

FAILURES=0
for run in $(seq "$RUNS"); do
  pids=()
  for i in "${!CASES[@]}"; do
    read -r side rate <<<"${CASES[$i]}"
    option=()
    # The test signal on one, silence on the other.
    [ "$side" = playback ] && option=(--playback)
    [ "$side" = playback ] && [ "$rate" = 8008 ] && option+=(--silence)
    "${RUNNER[@]}" "$SOUNDCLOCK" rate --device "$DEVICE" "${option[@]}" --rate "$rate" --seconds "$RUN_SECONDS" \
      --json --quiet >"$WORK/$i.json" 2>"$WORK/$i.err" </dev/null &
    pids+=($!)
    sleep 0.3  # one client at a time: docs/accuracy.md#references-live
  done
  if [ "$run" = 1 ] && [ "${RATE_SIDES:-both}" != capture ]; then
    # The loop on the same sink: its offset, both sides' rates beside it,
    # the offset they imply agreeing with the signal's; and a measure of
    # the loop's signal at another rate.
    "${RUNNER[@]}" "$SOUNDCLOCK" loop --play "$DEVICE" --record "$DEVICE" --record-rate 8008 --rate 8000 --carrier 1500 \
      --seconds "$RUN_SECONDS" --expect 1000 --tolerance 0.01 --json --quiet >"$WORK/loop.json" 2>"$WORK/loop.err" </dev/null &
    loop_pid=$!
    sleep 3  # once the loop plays; it ends before the loop does
    "${RUNNER[@]}" "$SOUNDCLOCK" measure --device "$DEVICE" --rate 7996 --signal-rate 8000 --carrier 1500 \
      --seconds $((RUN_SECONDS - 5)) --expect -500 --tolerance 0.01 --json --quiet >"$WORK/measure.json" 2>"$WORK/measure.err" </dev/null &
    measure_pid=$!
  fi
  for i in "${!CASES[@]}"; do
    wait "${pids[$i]}"
    status=$?
    out="$WORK/$i.json"
    ppm=$(json_number ppm "$out") u=$(json_number uncertainty_ppm "$out") seconds=$(json_number seconds "$out")
    if [ "$status" != 0 ] || [ -z "$ppm" ] || [ -z "$u" ]; then
      printf 'FAIL: %s run %d: exit %s\n%s\n%s\n' "${CASES[$i]}" "$run" "$status" "$(cat "$out")" "$(cat "$WORK/$i.err")"
      FAILURES=$((FAILURES + 1))
      continue
    fi
    printf '%s run %d: %+.4f ppm +- %.4f ppm over %.1f s\n' "${CASES[$i]}" "$run" "$ppm" "$u" "$seconds"
    echo "$ppm $u" >>"$WORK/$i.runs"
    grep -q '"system_clock":{"synchronised":' "$out" || { echo "FAIL: ${CASES[$i]}: no system clock state"; FAILURES=$((FAILURES + 1)); }
    # Honest: the null sink's truth is 0 ppm, within four uncertainties;
    # and the uncertainty itself small enough to mean something.
    if ! awk -v p="$ppm" -v u="$u" -v limit="$LIMIT_PPM" 'BEGIN { exit !((p < 0 ? -p : p) <= 4 * u && u <= limit && u > 0) }'; then
      echo "FAIL: ${CASES[$i]}: $ppm ppm +- $u ppm is not 0 within four uncertainties, or the uncertainty exceeds $LIMIT_PPM ppm"
      FAILURES=$((FAILURES + 1))
      echo "$ppm $u" >>"$WORK/off.$run"
    fi
  done
  # Every stream off 0 alike, within four uncertainties of one another: the
  # sink itself kept another time than the system clock that minute (seen
  # in the first minute of two warm suite runs, all four at +395 and +233
  # ppm: docs/accuracy.md#null-sink-48k). The truth is then not known; the
  # run is made again, up to twice, and the last must pass.
  if [ "${RATE_ATTEMPT:-1}" -lt 3 ] && [ -f "$WORK/off.$run" ] && [ "$(wc -l <"$WORK/off.$run")" = "${#CASES[@]}" ] &&
    awk '{ p[NR] = $1; if ($2 > u) u = $2 } END { lo = hi = p[1]; for (i in p) { if (p[i] < lo) lo = p[i]; if (p[i] > hi) hi = p[i] }
           exit !(hi - lo <= 4 * u) }' "$WORK/off.$run"; then
    echo "every stream read alike off 0: the sink itself was off the system clock; again"
    [ -n "${loop_pid:-}" ] && wait "$loop_pid" 2>/dev/null
    [ -n "${measure_pid:-}" ] && wait "$measure_pid" 2>/dev/null
    rate_cleanup
    trap - EXIT
    RATE_ATTEMPT=$((${RATE_ATTEMPT:-1} + 1)) exec bash "${BASH_SOURCE[0]}" "${ARGUMENTS[@]}"
  fi
  if [ "$run" = 1 ] && [ "${RATE_SIDES:-both}" != capture ]; then
    loop_status=0 measure_status=0
    wait "$loop_pid" || loop_status=$?
    wait "$measure_pid" || measure_status=$?
    if [ "$loop_status" = 0 ] && grep -q '"playback_rate":{"ppm":' "$WORK/loop.json" &&
      grep -q '"capture_rate":{"ppm":' "$WORK/loop.json" && grep -q '"rates_agree":true' "$WORK/loop.json" &&
      grep -q '"system_clock":{' "$WORK/loop.json"; then
      echo "loop at 8008 Hz: $(json_number ppm "$WORK/loop.json") ppm; both rates against the system clock, agreeing with it"
    else
      printf 'FAIL: loop: not +1000 ppm within 0.01 ppm (exit %s), or no agreeing rates\n%s\n%s\n' "$loop_status" \
        "$(cat "$WORK/loop.json")" "$(tail -n 15 "$WORK/loop.err")"
      FAILURES=$((FAILURES + 1))
    fi
    if [ "$measure_status" = 0 ]; then
      echo "measure at 7996 Hz: $(json_number ppm "$WORK/measure.json") ppm"
    else
      printf 'FAIL: measure at 7996 Hz: not -500 ppm within 0.01 ppm (exit %s)\n%s\n%s\n' "$measure_status" \
        "$(cat "$WORK/measure.json")" "$(tail -n 15 "$WORK/measure.err")"
      FAILURES=$((FAILURES + 1))
    fi
  fi
done

if [ "$RUNS" -gt 1 ]; then
  for i in "${!CASES[@]}"; do
    [ -f "$WORK/$i.runs" ] || continue
    awk -v name="${CASES[$i]}" '{ s += $1; q += $1 * $1; u += $2; n++ }
      END { m = s / n; sd = n > 1 ? sqrt((q - n * m * m) / (n - 1)) : 0
            printf "%s: %d runs, mean %+.4f ppm, scatter (SD) %.4f ppm, mean reported uncertainty %.4f ppm, rms of ppm %.4f\n",
                   name, n, m, sd, u / n, sqrt(q / n) }' "$WORK/$i.runs"
  done
fi
[ "$FAILURES" = 0 ] || exit 1
echo "all rate cases pass"
