#!/usr/bin/env bash
# soundclock against references played live through the private audio
# server: files made by our own generator with known offsets (a GPS
# receiver's second pulse, a 1000 Hz tone, WWV's ticks) are each played
# into a stereo null sink of their own at 48000 Hz (on its left channel),
# and the sinks' monitors are recorded. A null sink's playback and its
# monitor run on one clock, so each reference's own offset is the truth: a
# card on that clock reads the offset the file was made with.
#
# In one run, each for SECONDS:
#   rate --reference pps, tone:1000 and ticks:wwv on the left channels;
#   calibrate --reference pps and --reference tone:1000, the loop played
#   on the right channel and recorded at 48048 Hz (a capture 1000 ppm off
#   the playback): receive and transmit must both read the reference's
#   offset, the loop +1000 ppm;
#   natively, calibrate against the system clock on a stereo sink at
#   8000 Hz: 0 within its uncertainty. (At 48000 Hz a null sink with a
#   client playing runs tens to hundreds of ppm fast of the system clock,
#   docs/accuracy.md#null-sink-48k: no truth for the system clock there;
#   and under Wine a playback cannot be timed.)
#
#   references_e2e.sh SECONDS SOUNDCLOCK MAKE_REFERENCE [RUNNER...]
#
# With a RUNNER (Wine), the devices are winmm's, named by the sinks'
# descriptions. REFERENCES_RUNS=N repeats the run and prints each figure's
# scatter against its uncertainty.
set -uo pipefail

RUN_SECONDS=$1 SOUNDCLOCK=$2 MAKE_REFERENCE=$3
shift 3
RUNNER=("$@")
RUNS=${REFERENCES_RUNS:-1}
# shellcheck source=../e2e/e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/e2e_lib.sh"
timeout 10 pactl info >/dev/null 2>&1 || { echo "skipped: no PulseAudio server"; exit 77; }

RATE=48000 RECORD_RATE=48048
PPS_PPM=2.3456 TONE_PPM=-1.75 TICKS_PPM=0.8
# What a minute allows (docs/accuracy.md#references-live): the pulse and
# the tone to 0.002 ppm, calibrate's halves to 0.01 ppm; the ticks and the system clock
# within four of their own uncertainties (honest, not fine).
RATE_TOLERANCE=0.002 TOLERANCE=0.01 HONEST=4
# Between two clients' starts, seconds (docs/accuracy.md#references-live).
CLIENT_STAGGER=0.3

WORK=$(mktemp -d "${TMPDIR:-/tmp}/references_e2e.XXXXXX")
NATIVE=1
[ ${#RUNNER[@]} -gt 0 ] && NATIVE=
MODULES=() PLAYERS=()
references_cleanup() {
  local pid module
  for pid in "${PLAYERS[@]}"; do kill "$pid" 2>/dev/null; done
  for module in "${MODULES[@]}"; do pactl unload-module "$module" >/dev/null 2>&1; done
  e2e_cleanup
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"
}
trap references_cleanup EXIT

# The generator of the build (under Wine too), given names in WORK only.
mr() { (cd "$WORK" && "${RUNNER[@]}" "$MAKE_REFERENCE" "$@"); }
LENGTH=$((RUN_SECONDS + 15))
# make_references SEED: the three files, with noise of their own for each run.
make_references() {
  mr pps $RATE $PPS_PPM $LENGTH ac_hz=10 hum_dbfs=-50 noise_dbfs=-60 seed="$1" >"$WORK/pps.wav" &&
    mr tone:1000 $RATE $TONE_PPM $LENGTH snr_db=30 seed="$1" >"$WORK/tone.wav" &&
    mr ticks:wwv $RATE $TICKS_PPM $LENGTH snr_db=20 pitch=500 seed="$1" >"$WORK/ticks.wav" || fail "make_reference failed"
  local name
  for name in pps tone ticks; do mr channels 2 1=$name.wav >"$WORK/$name.left.wav" || fail "make_reference failed"; done
}
say "the references: a second pulse $PPS_PPM ppm, a 1000 Hz tone $TONE_PPM ppm, WWV $TICKS_PPM ppm, $LENGTH s"

# A stereo null sink, described as NAME (winmm lists it by that).
sink() {
  local module
  module=$(pactl load-module module-null-sink sink_name="$1_$$" rate="$2" channels=2 format=float32le \
    sink_properties=device.description="sc_$1_$$") || fail "cannot load a null sink"
  MODULES+=("$module")
}
for name in pps tone ticks; do sink $name $RATE; done
[ -n "$NATIVE" ] && sink system 8000
sleep 2.2  # what the sinks rendered ahead before anyone listened

# The capture and playback devices of sink NAME.
record_of() { if [ -n "$NATIVE" ]; then echo "pulse:$1_$$.monitor"; else echo "Monitor of sc_$1_$$"; fi; }
play_of() { if [ -n "$NATIVE" ]; then echo "pulse:$1_$$"; else echo "sc_$1_$$"; fi; }

json_number() { sed -n "s/.*\"$1\":\(-\{0,1\}[0-9.]*\).*/\1/p" "$2" | head -n 1; }
# within VALUE TRUTH TOLERANCE: |value - truth| <= tolerance
within() { awk -v v="$1" -v t="$2" -v l="$3" 'BEGIN { d = v - t; exit !((d < 0 ? -d : d) <= l) }'; }

FAILURES=0
# check NAME FILE FIELD TRUTH TOLERANCE: a figure and its uncertainty; FIELD
# "." is the top level's, else the object's; a TOLERANCE of "honest" is
# four of the figure's own uncertainties.
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
  [ "$tolerance" = honest ] && tolerance=$(awk -v u="$u" -v k="$HONEST" 'BEGIN { print k * u }')
  if ! within "$ppm" "$truth" "$tolerance"; then
    echo "FAIL: $name: $ppm ppm is not within $tolerance ppm of $truth"
    FAILURES=$((FAILURES + 1))
  fi
}

sc() { "${RUNNER[@]}" "$SOUNDCLOCK" "$@"; }
# start NAME ARGS...: soundclock in the background, its JSON in NAME.json.
# One at a time: six clients connecting to the server at once now and then
# had one refused (docs/accuracy.md#references-live).
PIDS=()
start() {
  local name=$1
  shift
  sc "$@" --seconds "$RUN_SECONDS" --json --quiet >"$WORK/$name.json" 2>"$WORK/$name.err" </dev/null &
  PIDS+=($!)
  sleep "$CLIENT_STAGGER"
}

for run in $(seq "$RUNS"); do
  make_references "$run"
  PIDS=()
  start pps rate --device "$(record_of pps)" --rate $RATE --reference pps --channel 1
  start tone rate --device "$(record_of tone)" --rate $RATE --reference tone:1000 --channel 1
  start ticks rate --device "$(record_of ticks)" --rate $RATE --reference ticks:wwv --channel 1
  for reference in pps tone; do
    kind=$reference
    [ "$reference" = tone ] && kind=tone:1000
    start calibrate_$reference calibrate --device "$(record_of $reference)" --play "$(play_of $reference)" --rate $RATE \
      --record-rate $RECORD_RATE --reference $kind
  done
  [ -n "$NATIVE" ] && start calibrate_system calibrate --device "$(record_of system)" --play "$(play_of system)" --rate 8000 \
    --record-rate 8008
  sleep 1
  PLAYERS=()
  for name in pps tone ticks; do
    paplay --device="${name}_$$" "$WORK/$name.left.wav" &
    PLAYERS+=($!)
  done
  for pid in "${PIDS[@]}"; do wait "$pid"; done
  for pid in "${PLAYERS[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  PLAYERS=()

  check pps "$WORK/pps.json" . $PPS_PPM $RATE_TOLERANCE
  check tone "$WORK/tone.json" . $TONE_PPM $RATE_TOLERANCE
  check ticks "$WORK/ticks.json" . $TICKS_PPM honest
  for reference in pps tone ${NATIVE:+system}; do
    truth=$PPS_PPM tolerance=$TOLERANCE
    [ "$reference" = tone ] && truth=$TONE_PPM
    [ "$reference" = system ] && truth=0 tolerance=honest
    check "calibrate_${reference}_receive" "$WORK/calibrate_$reference.json" receive "$truth" "$tolerance"
    check "calibrate_${reference}_transmit" "$WORK/calibrate_$reference.json" transmit "$truth" "$tolerance"
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
