#!/usr/bin/env bash
# soundclock against references played live through the private audio
# server: files made by our own generator with known offsets (a GPS
# receiver's second pulse, a 1000 Hz tone) are played into a null sink of
# four channels at 48000 Hz, and its monitor is recorded. The null sink
# runs on the system clock, so each reference's own offset is the truth:
# a card on that clock reads the offset the file was made with.
#
# In one run, each for SECONDS:
#   rate --reference pps on channel 1 and rate --reference tone:1000 on 3;
#   calibrate --reference pps (the loop played on channel 2, recorded at
#   48048 Hz: a capture 1000 ppm off the playback) and calibrate
#   --reference tone:1000 (the loop on channel 4): receive and transmit
#   must both read the reference's offset (the sink's playback and its
#   monitor run on one clock), the loop +1000 ppm.
#
#   references_e2e.sh SECONDS DEVICE SOUNDCLOCK MAKE_REFERENCE [RUNNER...]
#
# DEVICE is the capture and playback device (ALSA: pulse; winmm: 0, the
# defaults, which the script points at the sink). REFERENCES_RUNS=N
# repeats the run and prints each figure's scatter against its uncertainty.
set -uo pipefail

RUN_SECONDS=$1 DEVICE=$2 SOUNDCLOCK=$3 MAKE_REFERENCE=$4
shift 4
RUNNER=("$@")
RUNS=${REFERENCES_RUNS:-1}
# shellcheck source=../e2e/e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/e2e_lib.sh"
timeout 10 pactl info >/dev/null 2>&1 || { echo "skipped: no PulseAudio server"; exit 77; }

RATE=48000 RECORD_RATE=48048
PPS_PPM=2.3456 TONE_PPM=-1.75
# The figures a minute allows (docs/accuracy.md#references-live): the
# pulse's edges and the tone's phase to a few ten-thousandths of a ppm;
# calibrate's halves to 0.01 ppm.
RATE_TOLERANCE=0.002 CALIBRATE_TOLERANCE=0.01

WORK=$(mktemp -d "${TMPDIR:-/tmp}/references_e2e.XXXXXX")
SINK=soundclock_refs_$$ MODULE= PLAYER=
references_cleanup() {
  [ -n "$PLAYER" ] && kill "$PLAYER" 2>/dev/null
  [ -n "$MODULE" ] && pactl unload-module "$MODULE" >/dev/null 2>&1
  e2e_cleanup
  rm -rf "$WORK"
}
trap references_cleanup EXIT

# The generator of the build (under Wine too), given names in WORK only.
mr() { (cd "$WORK" && "${RUNNER[@]}" "$MAKE_REFERENCE" "$@"); }
say "the references: a second pulse $PPS_PPM ppm, a 1000 Hz tone $TONE_PPM ppm, $((RUN_SECONDS + 15)) s"
mr pps "$RATE" "$PPS_PPM" $((RUN_SECONDS + 15)) ac_hz=10 hum_dbfs=-50 noise_dbfs=-60 >"$WORK/pps.wav" &&
  mr tone:1000 "$RATE" "$TONE_PPM" $((RUN_SECONDS + 15)) snr_db=30 >"$WORK/tone.wav" &&
  mr channels 4 1=pps.wav 3=tone.wav >"$WORK/references.wav" || fail "make_reference failed"

# Four channels in ALSA's order, for every client alike (no remixing).
MAP=front-left,front-right,rear-left,rear-right
MODULE=$(pactl load-module module-null-sink sink_name="$SINK" rate=$RATE channels=4 channel_map=$MAP format=float32le) ||
  fail "cannot load a null sink"
pactl set-default-sink "$SINK"
pactl set-default-source "$SINK.monitor"
export PULSE_SINK=$SINK PULSE_SOURCE=$SINK.monitor
sleep 2.2  # what the sink rendered ahead before anyone listened

json_number() { sed -n "s/.*\"$1\":\(-\{0,1\}[0-9.]*\).*/\1/p" "$2" | head -n 1; }
# within VALUE TRUTH TOLERANCE: |value - truth| <= tolerance
within() { awk -v v="$1" -v t="$2" -v l="$3" 'BEGIN { d = v - t; exit !((d < 0 ? -d : d) <= l) }'; }

FAILURES=0
# check NAME FILE FIELD TRUTH TOLERANCE: a figure and its uncertainty.
check() {
  local name=$1 file=$2 field=$3 truth=$4 tolerance=$5 ppm u
  if [ "$field" = . ]; then
    ppm=$(json_number ppm "$file") u=$(json_number uncertainty_ppm "$file")
  else
    ppm=$(sed -n "s/.*\"$field\":{\"ppm\":\(-\{0,1\}[0-9.]*\),\"uncertainty_ppm\":\([0-9.]*\).*/\1/p" "$file")
    u=$(sed -n "s/.*\"$field\":{\"ppm\":\(-\{0,1\}[0-9.]*\),\"uncertainty_ppm\":\([0-9.]*\).*/\2/p" "$file")
  fi
  if [ -z "$ppm" ]; then
    printf 'FAIL: %s: no figure\n%s\n' "$name" "$(cat "$file" "${file%.json}.err" 2>/dev/null | tail -n 15)"
    FAILURES=$((FAILURES + 1))
    return
  fi
  printf '%s: %+.6f ppm +- %.6f ppm (truth %+.6f)\n' "$name" "$ppm" "$u" "$truth"
  echo "$ppm $u $truth" >>"$WORK/$name.runs"
  if ! within "$ppm" "$truth" "$tolerance"; then
    echo "FAIL: $name: $ppm ppm is not within $tolerance ppm of $truth"
    FAILURES=$((FAILURES + 1))
  fi
}

sc() { "${RUNNER[@]}" "$SOUNDCLOCK" "$@"; }
for run in $(seq "$RUNS"); do
  pids=()
  common=(--seconds "$RUN_SECONDS" --json --quiet)
  sc rate --device "$DEVICE" --rate $RATE --reference pps --channel 1 "${common[@]}" >"$WORK/pps.json" 2>"$WORK/pps.err" </dev/null &
  pids+=($!)
  sc rate --device "$DEVICE" --rate $RATE --reference tone:1000 --channel 3 "${common[@]}" >"$WORK/tone.json" 2>"$WORK/tone.err" </dev/null &
  pids+=($!)
  sc calibrate --device "$DEVICE" --rate $RATE --record-rate $RECORD_RATE --reference pps --channel 1 --loop-channel 2 \
    "${common[@]}" >"$WORK/calibrate_pps.json" 2>"$WORK/calibrate_pps.err" </dev/null &
  pids+=($!)
  sc calibrate --device "$DEVICE" --rate $RATE --record-rate $RECORD_RATE --reference tone:1000 --channel 3 --loop-channel 4 \
    "${common[@]}" >"$WORK/calibrate_tone.json" 2>"$WORK/calibrate_tone.err" </dev/null &
  pids+=($!)
  sleep 1
  paplay --device="$SINK" --channel-map=$MAP "$WORK/references.wav" &
  PLAYER=$!
  for pid in "${pids[@]}"; do wait "$pid"; done
  kill "$PLAYER" 2>/dev/null
  wait "$PLAYER" 2>/dev/null
  PLAYER=
  check pps "$WORK/pps.json" . "$PPS_PPM" "$RATE_TOLERANCE"
  check tone "$WORK/tone.json" . "$TONE_PPM" "$RATE_TOLERANCE"
  for reference in pps tone; do
    truth=$PPS_PPM
    [ "$reference" = tone ] && truth=$TONE_PPM
    check "calibrate_${reference}_receive" "$WORK/calibrate_$reference.json" receive "$truth" "$CALIBRATE_TOLERANCE"
    check "calibrate_${reference}_transmit" "$WORK/calibrate_$reference.json" transmit "$truth" "$CALIBRATE_TOLERANCE"
    loop=$(json_number loop_offset_ppm "$WORK/calibrate_$reference.json")
    within "${loop:-0}" 1000 0.01 || { echo "FAIL: calibrate $reference: the loop read ${loop:-nothing}, not +1000 ppm"; FAILURES=$((FAILURES + 1)); }
  done
done

if [ "$RUNS" -gt 1 ]; then
  for f in "$WORK"/*.runs; do
    awk -v name="$(basename "$f" .runs)" '{ e = $1 - $3; s += e * e; z += (e / $2) ^ 2; u += $2; n++ }
      END { printf "%s: %d runs, rms error %.6f ppm, mean uncertainty %.6f ppm, rms error/uncertainty %.2f\n",
                   name, n, sqrt(s / n), u / n, sqrt(z / n) }' "$f"
  done
fi
[ "$FAILURES" = 0 ] || exit 1
echo "references end to end: all pass"
