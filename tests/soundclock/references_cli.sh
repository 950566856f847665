#!/usr/bin/env bash
# soundclock rate --reference on recordings, as a user meets it: files made
# by our own generator with a known clock offset (fractional, as a card's
# is), each read to its figure; inputs that hold no usable reference, each
# a clear message and status 2; and calibrate --from-files on two results
# saved earlier. Natively and under the sanitizers; with Wine as RUNNER
# (Windows) fewer and shorter recordings, through the same paths: there
# every run of the program or the generator starts Wine.
#
#   references_cli.sh SOUNDCLOCK MAKE_REFERENCE [RUNNER...]
set -uo pipefail

SOUNDCLOCK=$1 MAKE_REFERENCE=$2
shift 2
RUNNER=("$@")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/references_cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

SHORT=
[ ${#RUNNER[@]} -gt 0 ] && SHORT=1
FAILURES=0
soundclock() { "${RUNNER[@]}" "$SOUNDCLOCK" "$@"; }
reference() { "${RUNNER[@]}" "$MAKE_REFERENCE" "$@"; }

# expect STATUS PATTERN ARGS...: its exit status and its words (both streams).
expect() {
  local status=$1 pattern=$2 output actual
  shift 2
  output=$(soundclock "$@" 2>&1 </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
  actual=$?
  if [ "$actual" != "$status" ] || ! grep -Ezq -- "$pattern" <<<"$output"; then
    printf 'FAIL: soundclock %s\n  exit %s (expected %s), output:\n%s\n  expected to match: %s\n' "$*" "$actual" "$status" "$output" "$pattern"
    FAILURES=$((FAILURES + 1))
  else
    printf 'ok: soundclock %s -> %s\n' "$*" "$status"
  fi
}
made() { [ -s "$1" ] || { echo "FAIL: make_reference made no $1"; FAILURES=$((FAILURES + 1)); }; }

# The references, each with its truth (a minute: the meters' first seconds
# go to finding them).
PPS_SECONDS=40 PPS_USED=40 PPS_TOLERANCE=0.005
[ -n "$SHORT" ] && PPS_SECONDS=20 PPS_USED=20 PPS_TOLERANCE=0.05
reference pps 48000 12.3456 $PPS_SECONDS ac_hz=10 hum_dbfs=-50 noise_dbfs=-60 >pps.wav
reference tone:1000 8000 -7.25 $((PPS_SECONDS * 3 / 4)) snr_db=30 >tone.wav
reference channels 2 2=pps.wav >right.wav
FILES=(pps.wav tone.wav right.wav)
if [ -z "$SHORT" ]; then
  reference pps 8000 -37.21 40 width=0.00001 polarity=falling level_dbfs=0 ac_hz=10 noise_dbfs=-60 bits=16 >pps_short.wav
  reference ticks:wwv 8000 3.21 60 snr_db=20 pitch=600 >wwv.wav
  reference ticks:chu 8000 3.21 60 snr_db=20 pitch=600 >chu.wav
  reference pps 8000 0 20 extra_at=0.5 >pps2.wav
  reference pps 8000 5 30 >pps_dc.wav
  FILES+=(pps_short.wav wwv.wav chu.wav pps2.wav pps_dc.wav)
fi
for f in "${FILES[@]}"; do made "$f"; done
head -c 320000 /dev/zero >silence.raw
perl -e 'srand(3); print pack("s<*", map { int(6000 * (rand() + rand() + rand() - 1.5)) } 1..240000)' >noise.raw
# mains pick-up: a 50 Hz square wave
perl -e 'print pack("s<*", map { (int($_ / 80) % 2) ? 8000 : -8000 } 0..239999)' >mains.raw
soundclock signal --seconds 30 -o burst.wav

# Figures: within what a minute allows (docs/accuracy.md#pps-accuracy, #tone-accuracy, #ticks-matrix).
expect 0 "capture rate 48000\\.59[0-9]* Hz, \\+12\\.3[0-9]* ppm \\+- 0\\.0[0-9]+ ppm from 48000 Hz against the second pulse .*, $PPS_USED pulses used" \
  rate pps.wav --reference pps --expect 12.3456 --tolerance $PPS_TOLERANCE
expect 0 '\-7\.2[0-9]* ppm \+- 0\.00[0-9]+ ppm from 8000 Hz against the 1000 Hz tone' rate tone.wav --reference tone:1000 --expect -7.25 --tolerance 0.01
if [ -z "$SHORT" ]; then
  expect 0 '"ppm":-37\.2[0-9]*,.*"reference":\{"kind":"pps","events_used":[34][0-9],' rate pps_short.wav --reference pps --json --quiet \
    --expect -37.21 --tolerance 0.1
  expect 0 'against WWV.s ticks' rate wwv.wav --reference ticks:wwv --expect 3.21 --tolerance 1.5
  expect 0 'against CHU.s ticks' rate chu.wav --reference ticks:chu --expect 3.21 --tolerance 1.5
fi
# The channel asked for; windows, the events' CSV and the Allan deviation.
expect 0 '2 channels: measuring channel 2.*\+12\.34[5-6][0-9]* ppm' rate right.wav --reference pps --channel 2
expect 2 'no usable reference: .*digital silence|no usable reference: silence' rate right.wav --reference pps --channel 1
expect 0 'window 0\.0-10\.0 s: \+12\.3[0-9]* ppm .*window 10\.0-' rate pps.wav --reference pps --interval 10 --csv events.csv --adev adev.csv
head -n 1 events.csv | tr -d '\r' | grep -q '^event,reference_s,position_samples,residual_samples,level_dbfs,segment,flags$' &&
  [ "$(grep -c ',used' events.csv)" -ge $((PPS_USED - 5)) ] || { echo "FAIL: the events' CSV: $(head -n 3 events.csv)"; FAILURES=$((FAILURES + 1)); }
grep -Eq '^1\.000000,[0-9.]+e-[0-9]+,' adev.csv || { echo "FAIL: --adev: $(head -n 2 adev.csv)"; FAILURES=$((FAILURES + 1)); }

# No usable reference: what was heard, and status 2, never a figure.
expect 2 'no usable reference: .*silence' rate --raw --rate 8000 silence.raw --reference pps
expect 2 'no usable reference: no tone at 1200\.0 Hz: the strongest tone heard is at 1000\.0 Hz' rate tone.wav --reference tone:1200
expect 2 '"error":"no usable reference' rate --raw --rate 8000 silence.raw --reference tone:1000 --json
if [ -z "$SHORT" ]; then
  expect 2 'no usable reference: .*noise.*level -[0-9.]+ dBFS' rate --raw --rate 8000 noise.raw --reference pps
  expect 2 'no usable reference: .*not a second pulse|no usable reference: .*not one' rate burst.wav --reference pps
  expect 2 'no usable reference: 2 pulses a second, not one' rate pps2.wav --reference pps
  expect 2 'no usable reference: .*(mains|50 Hz)' rate --raw --rate 8000 mains.raw --reference pps
  expect 2 'no usable reference: .*300 ms long: CHU.s, not WWV.s' rate chu.wav --reference ticks:wwv
  # A time station's ticks given as a second pulse: edges all through
  # each second (a figure from them was hundreds of ppm off).
  expect 2 'no usable reference: [0-9]+ edges between the seconds for [0-9]+ on them: not one pulse a second' \
    rate wwv.wav --reference pps
  expect 2 'no usable reference: [0-9]+ edges between the seconds for [0-9]+ on them: not one pulse a second' \
    rate chu.wav --reference pps
  # A second pulse given as ticks: its two edges (AC coupling), or one
  # without a pitch.
  expect 2 'no usable reference: 2.0 pulses a second, not one: not a time station.s ticks' rate pps.wav --reference ticks:wwv
  expect 2 'no usable reference: pulses once a second without a tone in them .*: a second pulse, not a time station.s ticks' \
    rate pps_dc.wav --reference ticks:chu
fi

# What goes with what.
expect 2 'a recording has no system clock' rate pps.wav
expect 2 'a recording has no system clock' rate pps.wav --reference system
expect 2 '--playback is measured against the system clock' rate --device 0 --playback --reference pps
expect 2 '--polarity is for --reference pps' rate tone.wav --reference tone:1000 --polarity rising
expect 2 '--reference: system, pps, tone:HZ, ticks:wwv, ticks:wwvh or ticks:chu, not ticks:msf' rate pps.wav --reference ticks:msf
expect 2 'a tone from 20 Hz' rate tone.wav --reference tone:5000

# calibrate from two results saved earlier: the receive clock against the
# pulse, and a loop (here a recording 1000 ppm fast, as measure gives it).
soundclock rate pps.wav --reference pps --json --quiet >rate.json
cat >loop.json <<'JSON'
{"ppm":1000.000000,"uncertainty_ppm":0.000100,"seconds":60.000,"recording_rate":48000,"signal_rate":48000}
JSON
expect 0 'receive \(capture\) clock \+12\.34[0-9]* ppm .*transmit \(playback\) clock -986\.6[0-9]* ppm' calibrate --from-files rate.json loop.json
expect 0 '"receive":\{"ppm":12\.34[0-9]*,.*"transmit":\{"ppm":-986\.6[0-9]*,.*"nominal_rate_hz":48000' calibrate --from-files rate.json loop.json --json
expect 1 'transmit' calibrate --from-files rate.json loop.json --expect-transmit 0 --tolerance 1
expect 2 'not a result of .soundclock loop --json' calibrate --from-files rate.json rate.json
expect 2 'cannot open no-such.json' calibrate --from-files rate.json no-such.json

if [ "$FAILURES" -gt 0 ]; then
  echo "$FAILURES case(s) failed"
  exit 1
fi
echo "soundclock's references on recordings: all cases passed"
