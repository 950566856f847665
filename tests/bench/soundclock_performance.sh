#!/usr/bin/env bash
# The soundclock part of docs/performance.md: how fast the meter and the
# program measure, and the meter's own floor (the Allan deviation of exactly
# steady recordings). performance.sh sources this and calls
# soundclock_section with NATIVE, WINBUILD, WINE and SCRATCH set; run alone,
# it prints the section to standard output (Wine's part only with a
# Windows build and a Wine given):
#
#   soundclock_performance.sh NATIVE_BUILD [WINDOWS_BUILD WINE]

# soundclock measure over a raw file of the signal at RATE, SECONDS long,
# with OPTIONS: prints one table row: rate | audio | options | wall time
# (the best of three) | x real time | peak memory (the most).
soundclock_speed() {
  local rate=$1 seconds=$2 options=${3:-} carrier file figures
  carrier=$(awk -v r="$rate" 'BEGIN { print r * 1500 / 8000 }')
  file="$SCRATCH/signal_${rate}_${seconds}.raw"
  "$NATIVE/soundclock" signal --rate "$rate" --carrier "$carrier" --seconds "$seconds" --raw -o "$file"
  # The best of three runs: the machine is shared, and the others' load
  # only ever adds.
  local run wall=999999 memory=0 this_wall this_memory
  for run in 1 2 3; do
    # shellcheck disable=SC2086 # the options are words
    figures=$(cd "$SCRATCH" && /usr/bin/time -f '%e %M' "$NATIVE/soundclock" measure --raw --rate "$rate" --signal-rate "$rate" \
      --carrier "$carrier" --quiet "$file" $options 2>&1 >/dev/null | tail -n 1)
    read -r this_wall this_memory <<<"$figures"
    if awk -v a="$this_wall" -v b="$wall" 'BEGIN { exit !(a < b) }'; then wall=$this_wall; fi
    [ "$this_memory" -gt "$memory" ] && memory=$this_memory
  done
  rm -f "$file"
  printf '| %s | %s s | %s | %s s | %s | %s kB |\n' "$rate" "$seconds" "${options:-}" "$wall" \
    "$(awk -v a="$seconds" -v w="$wall" 'BEGIN { if (w > 0) printf "%.0f x", a / w; else print "more than " a / 0.01 " x" }')" "$memory"
}

soundclock_block() {
  echo '```'
  "$@" 2>&1 | tr -d '\r'
  echo '```'
}

soundclock_section() {
  echo "## soundclock: how fast it measures"
  echo
  echo "The meter alone (tests/bench/bench_soundclock: an hour of the signal fed in pieces of"
  echo "8192 samples, one core), then the program on a raw file of the signal as a user runs it"
  echo '(`soundclock measure --raw`, reading included, also with the windows and the Allan'
  echo 'deviation: `--interval 10 --adev FILE`; wall time and peak resident memory from'
  echo "/usr/bin/time). The goal: an hour of 8000 Hz audio in under a second, 3600 x real time,"
  echo "with the memory nearly the same for a minute as for an hour (the Allan deviation keeps"
  echo "8 bytes a burst: 225 kB an hour at 8000 Hz)."
  echo
  echo "### Native"
  soundclock_block "$NATIVE/tests/bench/bench_soundclock"
  echo
  echo "| rate (Hz) | audio | options | wall time | real-time factor | peak memory |"
  echo "|---|---|---|---|---|---|"
  soundclock_speed 8000 60
  soundclock_speed 8000 3600
  soundclock_speed 8000 3600 "--interval 10 --adev adev.csv"
  soundclock_speed 48000 60
  soundclock_speed 48000 600
  soundclock_speed 48000 600 "--interval 10 --adev adev.csv"
  if [ -n "${WINE:-}" ] && [ -n "${WINBUILD:-}" ]; then
    echo
    echo "### Windows build under Wine (10 minutes of audio)"
    soundclock_block "$WINE" "$WINBUILD/tests/bench/bench_soundclock.exe" 10
  fi
  echo
  echo "## soundclock: the meter's own floor"
  echo
  echo "The Allan deviation soundclock reports for recordings whose clock offset is exactly"
  echo "constant (tests/bench/meter_floor: the transmitter's stream through the tests' exact"
  echo "resampler, 600 s, clean and with 20 dB of in-band white noise): the meter's errors"
  echo "alone, the smallest wander it can see. Both fall as 1/tau, white phase noise: at 20 dB"
  echo "the noise's, clean the fit's own and the 16-bit rounding's, at every offset (before the"
  echo "rulers fitted the real burst, the clean floor at +37 ppm was 5e-8 at 1 s, twenty times"
  echo "this, with a hump at the 3.4 s over which the fractional delay turned)."
  echo
  "$NATIVE/tests/bench/meter_floor" 600 | tr -d '\r'
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  NATIVE=$(cd "$1" && pwd)
  WINBUILD=${2:+$(cd "$2" && pwd)} WINE=${3:-}
  SCRATCH=$(mktemp -d)
  trap 'rm -rf "$SCRATCH"' EXIT
  soundclock_section
fi
