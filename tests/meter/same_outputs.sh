#!/usr/bin/env bash
# Whether two builds of soundclock print the same: every recording below
# (clean, noisy, with drops, inserted silence, outliers and restarts, at
# 8000, 9600, 44100 and 48000 Hz, offsets from -5000 to +5000 ppm, a
# warm-up, a ramp and a wander), measured by each with the JSON, CSV,
# track and Allan deviation outputs, with the plain result line, and with
# --quiet --interval 7; standard output, the files and the exit status
# must be byte for byte the same. For a change that should not change
# what the meter measures (a restructuring): build the revision before it
# in a worktree of its own, then
#
#   tests/meter/same_outputs.sh OLD/build/native/soundclock build/native/soundclock build/native/tests/meter/make_recording
#
# About 20 s natively; deterministic (fixed seeds). Not a ctest test: it
# needs the other build.
set -uo pipefail

OLD=$(realpath "$1") NEW=$(realpath "$2") MAKE_RECORDING=$(realpath "$3")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/same_outputs.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# name rate carrier make_recording's arguments after them
RECIPES=$(cat <<'LIST'
clean_8k_0 8000 1500 0 60
clean_8k_p500 8000 1500 500 60
clean_8k_m500 8000 1500 -500 60
clean_8k_p1000 8000 1500 1000 60
clean_8k_m1000 8000 1500 -1000 60
clean_8k_p5000 8000 1500 5000 60
noisy20_8k_p500 8000 1500 500 60 20 7
noisy10_8k_m1000 8000 1500 -1000 60 10 3
noisy3_8k_0 8000 1500 0 60 3 11
noisy0_8k_p1000 8000 1500 1000 60 0 5
noisym3_8k_m500 8000 1500 -500 60 -3 9
faults_8k_p1000 8000 1500 1000 60 drop 20 3 zeros 40 500
faults20_8k_m500 8000 1500 -500 60 20 5 drop 10 1 drop 30 7 zeros 45 1000
silence_8k_m300 8000 1500 -300 40 zeros 10 40000
younggap_8k_p500 8000 1500 500 30 zeros 0.5 300000
youngdrop_8k_p200 8000 1500 200 30 drop 0.6 2 drop 1.1 5
manydrops_8k_p10 8000 1500 10 60 20 2 drop 5 1 drop 10 2 drop 15 1 drop 20 3 zeros 25 7 drop 30 1 zeros 35 2 drop 40 4 zeros 45 9 drop 50 1
hf_48k_p5000 48000 9000 5000 30
hf_48k_m1000 48000 9000 -1000 30 20 4
hf_48k_0_drop 48000 9000 0 30 drop 10 5 zeros 20 300
hf_48k_p500_n3 48000 9000 500 30 3 2
car800_8k_p500 8000 800 500 60
car3000_8k_m500 8000 3000 -500 60
car1800_8k_p1000 8000 1800 1000 60 20 6
r9600_m5000 9600 1800 -5000 60
r44100_p200 44100 8000 200 30 15 3
warmup_8k_p100 8000 1500 100 120 warmup 3 30
ramp_8k_p50 8000 1500 50 120 20 1 ramp 0.5
wander_8k_m20 8000 1500 -20 120 wander 0.2 20
outliers_8k_0 8000 1500 0 60 drop 12.8806 3 zeros 12.9206 3 zeros 25.6806 2 drop 25.7206 2 zeros 38.4956 2 drop 38.5206 2 zeros 44.8956 1 drop 44.9206 1
outliers20_8k_0 8000 1500 0 60 20 13 drop 12.8806 3 zeros 12.9206 3 zeros 25.6806 2 drop 25.7206 2 zeros 38.4956 2 drop 38.5206 2 zeros 44.8956 1 drop 44.9206 1
rejects_8k_0 8000 1500 0 40 drop 19.2806 3 zeros 19.3206 3 zeros 19.4086 4 drop 19.4486 4 drop 19.5366 3 zeros 19.5766 3 zeros 19.6646 4 drop 19.7046 4 drop 19.7926 3 zeros 19.8326 3 zeros 19.9206 4 drop 19.9606 4 drop 20.0486 3 zeros 20.0886 3 zeros 20.1766 4 drop 20.2166 4
rejects20_8k_0 8000 1500 0 40 20 17 drop 19.2806 3 zeros 19.3206 3 zeros 19.4086 4 drop 19.4486 4 drop 19.5366 3 zeros 19.5766 3 zeros 19.6646 4 drop 19.7046 4 drop 19.7926 3 zeros 19.8326 3 zeros 19.9206 4 drop 19.9606 4 drop 20.0486 3 zeros 20.0886 3 zeros 20.1766 4 drop 20.2166 4 zeros 32.0956 1 drop 32.1206 1
youngrej_8k_0 8000 1500 0 30 drop 0.5926 3 zeros 0.6326 3 zeros 0.7206 4 drop 0.7606 4 drop 0.8486 3 zeros 0.8886 3 zeros 3.9356 1 drop 3.9606 1 zeros 4.0636 1 drop 4.0886 1
noisy5_8k_p300 8000 1500 300 60 5 21
noisy2_8k_m700 8000 1500 -700 60 2 23
noisy4_48k_p50 48000 9000 50 30 4 29
youngmute_8k_0 8000 1500 0 30 zeros 0.3 307200
youngmute20_8k_0 8000 1500 0 30 20 31 zeros 0.5 266240
LIST
)

measure() {  # SOUNDCLOCK WAV RATE CARRIER OUTDIR
  local soundclock=$1 wav=$2 rate=$3 carrier=$4 out=$5
  mkdir -p "$out" && cd "$out" || return 1
  "$soundclock" measure "$wav" --signal-rate "$rate" --carrier "$carrier" --json --csv rows.csv --interval 10 \
    --adev adev.csv --track track.csv > json.out 2> /dev/null
  echo $? > json.status
  "$soundclock" measure "$wav" --signal-rate "$rate" --carrier "$carrier" > plain.out 2> /dev/null
  echo $? > plain.status
  "$soundclock" measure "$wav" --signal-rate "$rate" --carrier "$carrier" --quiet --interval 7 > quiet.out 2> quiet.err
  echo $? > quiet.status
}

COUNT=0
while read -r name rate carrier recipe; do
  # shellcheck disable=SC2086
  "$MAKE_RECORDING" "$rate" "$carrier" $recipe > "$WORK/$name.wav" || { echo "make_recording failed: $name"; exit 2; }
  measure "$OLD" "$WORK/$name.wav" "$rate" "$carrier" "$WORK/old/$name"
  measure "$NEW" "$WORK/$name.wav" "$rate" "$carrier" "$WORK/new/$name"
  COUNT=$((COUNT + 1))
done <<<"$RECIPES"

if diff -r "$WORK/old" "$WORK/new"; then
  echo "the same: $COUNT recordings, $(find "$WORK/new" -type f | wc -l) files"
else
  echo "DIFFERENT (above)"
  exit 1
fi
