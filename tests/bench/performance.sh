#!/usr/bin/env bash
# Writes the performance report (docs/performance.md): the DSP benchmarks
# natively and under Wine against their real-time budgets, and the two
# programs under Wine on the loopback at a range of sample rates: CPU time
# per minute of each, and whether the rate is sustained (the transmitter's
# recording equals the synthesis without a gap after its start; the
# receiver's correlation peak stands still, so it lost no buffer), and how
# fast soundclock measures (its meter alone, and the program on a file),
# and how long and how fast `soundclock rate --reference KIND` measures on
# our generator's references. The receiver is also measured alone, fed by
# pacat from write_stream. `./run bench` builds what it needs and runs this
# with an X display, a PulseAudio server and a Wine prefix set up.
#
#   performance.sh NATIVE_BUILD WINDOWS_BUILD WINE OUTPUT [SECONDS [RATE...]]
#   performance.sh --references NATIVE_BUILD   (that section alone, to standard
#                                               output: no server, no Wine)
set -euo pipefail

# soundclock rate --reference on files of our generator (make_reference):
# the time to a standard uncertainty of 0.1 and 0.01 ppm, and the speed on
# ten minutes at 48000 Hz. Needs NATIVE and SCRATCH.
REFERENCE_TIMES=(2 3 4 5 6 8 10 12 15 20 25 30 40 50 60 90 120 180 240 300 420 600 900 1200 1800 2400 3000 3600 4200 4800 5400 7200)

# The first of REFERENCE_TIMES (up to the file's length) at which `rate
# FILE --reference KIND --seconds T` reports an uncertainty of at most
# TARGET ppm, with that uncertainty; else "not in LENGTH s".
reference_time_to() {
  local file=$1 kind=$2 length=$3 target=$4 t u
  for t in "${REFERENCE_TIMES[@]}"; do
    [ "$t" -le "$length" ] || break
    u=$("$NATIVE/soundclock" rate "$file" --reference "$kind" --seconds "$t" --json --quiet 2>/dev/null |
      sed -n 's/^{"ppm":[-0-9.]*,"uncertainty_ppm":\([0-9.]*\).*/\1/p')
    if [ -n "$u" ] && awk -v u="$u" -v l="$target" 'BEGIN { exit !(u <= l) }'; then
      echo "$t s ($u)"
      return
    fi
  done
  echo "not in $length s"
}

# One row: a reference made by make_reference KIND RATE PPM LENGTH KEYS...,
# read with --reference READ: | reference | signal | +-0.1 | +-0.01 | 60 s |.
reference_precision_row() {
  local label=$1 read=$2 kind=$3 rate=$4 ppm=$5 length=$6 file sixty
  shift 6
  file="$SCRATCH/reference.wav"
  "$NATIVE/tests/reference/make_reference" "$kind" "$rate" "$ppm" "$length" bits=16 "$@" >"$file"
  sixty=$("$NATIVE/soundclock" rate "$file" --reference "$read" --seconds 60 --json --quiet 2>/dev/null |
    sed -n 's/^{"ppm":\([-0-9.]*\),"uncertainty_ppm":\([0-9.]*\).*/\1 +- \2/p')
  printf '| %s | `%s %s %s %s %s` | %s | %s | %s (truth %s) |\n' "$label" "$kind" "$rate" "$ppm" "$length" "$*" \
    "$(reference_time_to "$file" "$read" "$length" 0.1)" "$(reference_time_to "$file" "$read" "$length" 0.01)" \
    "${sixty:-no figure}" "$ppm"
  rm -f "$file"
}

# soundclock rate FILE --reference READ on ten minutes at 48000 Hz: the
# best wall time of three and the real-time factor.
reference_speed_row() {
  local label=$1 read=$2 kind=$3 file run wall=999999 this
  shift 3
  file="$SCRATCH/speed.wav"
  "$NATIVE/tests/reference/make_reference" "$kind" 48000 12.3456 600 bits=16 "$@" >"$file"
  for run in 1 2 3; do
    /usr/bin/time -f '%e' -o "$SCRATCH/time.txt" "$NATIVE/soundclock" rate "$file" --reference "$read" --quiet >/dev/null 2>&1 || true
    this=$(tail -n 1 "$SCRATCH/time.txt")
    if awk -v a="$this" -v b="$wall" 'BEGIN { exit !(a < b) }'; then wall=$this; fi
  done
  rm -f "$file"
  printf '| %s | %s s | %s |\n' "$label" "$wall" \
    "$(awk -v w="$wall" 'BEGIN { if (w > 0) printf "%.0f x", 600 / w; else print "more than 60000 x" }')"
}

references_section() {
  echo "## soundclock rate --reference: how long to a precision, and how fast"
  echo
  echo "On files of our generator (tests/reference/make_reference, 16-bit; the keys as given), read by"
  echo '`soundclock rate FILE --reference KIND --seconds T --json` for rising T (from 2 s to two'
  echo "hours): the first T tried at which the reported standard uncertainty (in brackets, ppm) is"
  echo "at most 0.1 and 0.01 ppm, and the figure after a minute. The meters give their first figure"
  echo "after a few seconds. A recording takes as long to precision as a live"
  echo "capture of the same signal; a real card whose clock wanders, a real pulse, tone or path,"
  echo "take longer (the reference pages say how long to run)."
  echo
  echo "| reference | signal (make_reference) | to +-0.1 ppm | to +-0.01 ppm | after 60 s (ppm) |"
  echo "|---|---|---|---|---|"
  reference_precision_row "second pulse, 100 ms" pps pps 48000 12.3456 120 ac_hz=10 hum_dbfs=-50 noise_dbfs=-60
  reference_precision_row "second pulse, 10 us" pps pps 8000 -37.21 120 width=0.00001 ac_hz=10 noise_dbfs=-60
  reference_precision_row "1000 Hz tone" tone:1000 tone:1000 48000 -7.25 120 snr_db=30
  reference_precision_row "1000 Hz tone" tone:1000 tone:1000 8000 -7.25 120 snr_db=10
  reference_precision_row "WWV's ticks" ticks:wwv ticks:wwv 8000 3.21 7200 snr_db=10 pitch=600
  reference_precision_row "WWV's ticks, fading" ticks:wwv ticks:wwv 8000 3.21 7200 snr_db=10 pitch=600 fading=rayleigh echo=0.5
  echo
  echo 'Against the system clock (`--reference system`, a live capture only) the uncertainty is'
  echo "at least the allowance for the stamps' lateness drifting over the run: 0.2 ms over the"
  echo "run through an audio server (3.3 ppm after a minute), so +-0.1 ppm after 2000 s (33"
  echo "minutes) and +-0.01 ppm after 20000 s (5.6 hours); on a card's own stamps (0.02 ms) 200 s"
  echo "and 2000 s ([why](accuracy.md#lateness-allowance))."
  echo
  echo 'calibrate: the receive clock takes as long as the reference above; the loop (the test'
  echo 'signal through a cable) reaches +-0.01 ppm within seconds (the meter'"'"'s own floor, above),'
  echo "so the transmit clock, whose uncertainty is the two combined, takes as long as the receive."
  echo
  echo 'Speed: `soundclock rate FILE --reference KIND --quiet` on ten minutes at 48000 Hz (16-bit'
  echo "WAV, reading included; the best wall time of three):"
  echo
  echo "| reference | wall time | real-time factor |"
  echo "|---|---|---|"
  reference_speed_row "second pulse (100 ms, AC-coupled, hum, noise)" pps pps ac_hz=10 hum_dbfs=-50 noise_dbfs=-60
  reference_speed_row "1000 Hz tone, 30 dB" tone:1000 tone:1000 snr_db=30
  reference_speed_row "WWV's ticks, 10 dB, fading" ticks:wwv ticks:wwv snr_db=10 pitch=600 fading=rayleigh echo=0.5
  echo
}

if [ "${1:-}" = --references ]; then
  NATIVE=$(cd "$2" && pwd)
  SCRATCH=$(mktemp -d)
  trap 'rm -rf "$SCRATCH"' EXIT
  references_section
  exit 0
fi

NATIVE=$(cd "$1" && pwd) WINBUILD=$(cd "$2" && pwd) WINE=$3
OUTPUT=$(cd "$(dirname "$4")" && pwd)/$(basename "$4")
SECONDS_PER_RATE=${5:-20}
shift $(($# < 5 ? $# : 5))
RATES=("$@")
[ ${#RATES[@]} -gt 0 ] || RATES=(8000 16000 32000 48000 96000 192000)
PHAROLET=$WINBUILD/pharolet.exe QUORVANE=$WINBUILD/quorvane.exe
UIDRIVER=$WINBUILD/tests/e2e/uidriver.exe STREAMCHECK=$WINBUILD/tests/e2e/streamcheck.exe
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../e2e/e2e_lib.sh
source "$HERE/../e2e/e2e_lib.sh"
# shellcheck source=../e2e/reliability_lib.sh
source "$HERE/../e2e/reliability_lib.sh"
# shellcheck source=soundclock_performance.sh
source "$HERE/soundclock_performance.sh"
e2e_require_environment

SCRATCH=$(mktemp -d)
cd "$SCRATCH"
WARMUP_S=4

# Both programs at RATE for SECONDS_PER_RATE after a warm-up; prints one
# table row: rate | pharolet CPU s/min | quorvane CPU s/min | gaps | peak moves | sustained.
measure_rate() {
  local rate=$1 tx_ticks rx_ticks moves gaps check
  pharolet_start "$(printf '%s\r\n1500\r\n' "$rate")" "$rate"
  loopback_source
  pharolet_switch_on
  quorvane_start
  sleep "$WARMUP_S"
  tx_ticks=$(cpu_ticks "$PROGRAM_PID")
  rx_ticks=$(cpu_ticks "$QUORVANE_PID")
  moves=$(quorvane_label_changes $((SECONDS_PER_RATE * 1000)))
  tx_ticks=$(($(cpu_ticks "$PROGRAM_PID") - tx_ticks))
  rx_ticks=$(($(cpu_ticks "$QUORVANE_PID") - rx_ticks))
  quorvane_drive close wait-gone 10000
  wait_pid_exit "$QUORVANE_PID" 10000 || true
  pharolet_switch_off_and_close
  check=$("$WINE" "$STREAMCHECK" "$(winepath_of "$WORKDIR/recording.raw")" "$rate" 1500 1 1000000 | tr -d '\r' || true)
  gaps=$(sed -n 's/.* \([0-9]*\) gaps of \([0-9]*\) inserted.*/\1 (\2 samples)/p' <<<"$check")
  [ -n "$gaps" ] || gaps="not the synthesis"
  local per_minute="scale=2; 60 / $SECONDS_PER_RATE / $(getconf CLK_TCK) *"
  local sustained=no
  # One gap is Wine's slow release of a new stream's first second.
  if [[ $gaps =~ ^[01]\  ]] && [ "$moves" = 0 ]; then sustained=yes; fi
  printf '| %s | %s | %s | %s | %s | %s |\n' "$rate" "$(echo "$per_minute $tx_ticks" | bc)" \
    "$(echo "$per_minute $rx_ticks" | bc)" "$gaps" "$moves" "$sustained"
}

# soundclock rate on a null sink's monitor for RATE_CONVERGENCE_S (default
# 300): prints the rows of how long it took to reach +-1 and +-0.1 ppm.
rate_convergence() {
  local seconds=${RATE_CONVERGENCE_S:-300}
  e2e_load_null_sink 8000
  e2e_wait_sink_settled
  PULSE_SOURCE=$NULL_SINK_NAME.monitor "$NATIVE/soundclock" rate --device pulse --seconds "$seconds" \
    >"$SCRATCH/rate.out" 2>"$SCRATCH/rate.log" || true
  e2e_unload_null_sink
  bash "$HERE/rate_convergence.sh" "$SCRATCH/rate.log" 1 0.1
  echo
  echo "Result: $(head -n 1 "$SCRATCH/rate.out")"
  echo
  echo "$(sed -n 2p "$SCRATCH/rate.out")"
}

# quorvane alone at RATE, fed by pacat from the synthesis (a source without
# gaps): prints rate | quorvane CPU s/min | peak moves | sustained.
measure_receiver() {
  local rate=$1 rx_ticks moves player
  e2e_new_workdir
  printf '%s\r\n1500\r\n' "$rate" >"$WORKDIR/STANAG.SET"
  "$NATIVE/tests/bench/write_stream" "$rate" 1500 $((SECONDS_PER_RATE + WARMUP_S + 10)) >"$WORKDIR/stream.raw"
  e2e_load_null_sink "$rate"
  loopback_source
  pacat --playback --device="$NULL_SINK_NAME" --format=s16le --rate="$rate" --channels=1 --raw "$WORKDIR/stream.raw" &
  player=$!
  STARTED_PIDS+=("$player")
  quorvane_start
  sleep "$WARMUP_S"
  rx_ticks=$(cpu_ticks "$QUORVANE_PID")
  moves=$(quorvane_label_changes $((SECONDS_PER_RATE * 1000)))
  rx_ticks=$(($(cpu_ticks "$QUORVANE_PID") - rx_ticks))
  quorvane_drive close wait-gone 10000
  wait_pid_exit "$QUORVANE_PID" 10000 || true
  kill "$player" 2>/dev/null || true
  e2e_unload_null_sink
  printf '| %s | %s | %s | %s |\n' "$rate" \
    "$(echo "scale=2; 60 / $SECONDS_PER_RATE / $(getconf CLK_TCK) * $rx_ticks" | bc)" "$moves" \
    "$([ "$moves" = 0 ] && echo yes || echo no)"
}

bench_block() {
  echo '```'
  "$@" 2>&1 | tr -d '\r'
  echo '```'
}

{
  echo "# Performance"
  echo
  echo "Written by \`./run bench\` (tests/bench/performance.sh) on $(date -u '+%Y-%m-%d %H:%M UTC'),"
  echo "$(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))."
  echo "Figures from a shared machine vary by tens of percent between runs."
  echo
  echo "## Signal processing against its real-time budget"
  echo
  echo "The transmitter must synthesise one symbol (4 samples) per played buffer, within"
  echo "4 / rate seconds; the receiver must process one 1024-sample buffer (and the block it"
  echo "completes) within 1024 / rate seconds. The real-time factor is budget / cost: how many"
  echo "times over the work would fit. The cost per call does not depend on the rate, so the"
  echo "factor falls in proportion to it: divide the 8000 Hz factor by rate / 8000."
  echo
  echo "### Native (host g++, $(basename "$NATIVE"))"
  bench_block "$NATIVE/tests/bench/bench_synthesis"
  bench_block "$NATIVE/tests/bench/bench_correlator"
  echo
  echo "### Windows build under Wine ($(basename "$WINBUILD"))"
  bench_block "$WINE" "$WINBUILD/tests/bench/bench_synthesis.exe"
  bench_block "$WINE" "$WINBUILD/tests/bench/bench_correlator.exe"
  # The receiver's whole MM_WIM_DATA handling on its real dialog and pictures.
  bench_block "$WINE" "$WINBUILD/tests/bench/bench_receiver.exe"
  echo
  echo "## The programs under Wine, by sample rate"
  echo
  echo "pharolet plays into a PulseAudio null sink at the rate, quorvane records its monitor"
  echo "(trackbar centred). Measured for $SECONDS_PER_RATE s after a ${WARMUP_S} s warm-up; CPU time is"
  echo "user + system of each program's Wine process (/proc/PID/stat), scaled to a minute."
  echo "Gaps: stretches of silence the audio server inserted into the transmitter's recording"
  echo "(one at the start is Wine releasing a new stream's first second slowly). Peak moves:"
  echo "changes of quorvane's peak label while measured; a still peak means that neither side"
  echo "lost or repeated a sample. Sustained: at most that one gap and a still peak."
  echo
  echo "| rate (Hz) | pharolet CPU s/min | quorvane CPU s/min | gaps | peak moves | sustained |"
  echo "|---|---|---|---|---|---|"
  for rate in "${RATES[@]}"; do measure_rate "$rate"; done
  echo
  echo "## quorvane alone, by sample rate"
  echo
  echo "The transmitter's gaps move the receiver's peak as well, so the receiver is also"
  echo "measured on its own: pacat plays the synthesised signal into the null sink (a source"
  echo "without gaps) and quorvane records its monitor, trackbar centred, for $SECONDS_PER_RATE s"
  echo "after a ${WARMUP_S} s warm-up. Sustained: the peak stood still, so no buffer was lost."
  echo
  echo "| rate (Hz) | quorvane CPU s/min | peak moves | sustained |"
  echo "|---|---|---|---|"
  for rate in "${RATES[@]}"; do measure_receiver "$rate"; done
  echo
  soundclock_section
  references_section
  echo "## soundclock rate: how long to a precision"
  echo
  echo "One capture on the null sink's monitor, natively through ALSA's PulseAudio plugin:"
  echo "the sink is timed by the system clock, so the truth is 0 ppm. From the live lines:"
  echo "the time from which the reading stays within the target of 0, and the time the"
  echo "reported uncertainty first falls to half the target (its 95 % interval within it)."
  echo "Counting samples as a program happens to see them needs 30 to 60 minutes for ppm."
  echo
  echo "| target | reading stays within | uncertainty reaches half |"
  echo "|---|---|---|"
  rate_convergence
  echo
  echo "## Reading the figures"
  echo
  echo "- The signal processing is far from its limits: its real-time factors above are in the"
  echo "  hundreds at 8000 Hz, so even at 384000 Hz it would use a small part of each budget."
  echo "- What each program costs under Wine is mostly the message traffic, not the arithmetic:"
  echo "  pharolet handles rate / 4 MM_WOM_DONE notifications a second, each a window message"
  echo "  and a waveOutWrite, which Wine passes through its server and its audio thread; the"
  echo "  synthesis of one symbol is about a microsecond of that. The 1500 one-symbol buffers and"
  echo "  the modal loop's 1 ms sleep are part of the design and are kept."
  echo "- Both programs cost something when idle: the modal loop polls the queue and sleeps"
  echo "  1 ms whenever it is empty, about a thousand times a second."
  echo "- Gaps in the transmitter's recording are silence the audio server plays when Wine's"
  echo "  feed of its stream stalls for longer than the 200 ms the server holds; pharolet's own"
  echo "  queue (0.75 s at 8000 Hz, less at higher rates since it is 6000 samples) is what keeps"
  echo "  the device fed, and it shrinks with the rate: 125 ms at 48000 Hz."
} >"$OUTPUT.tmp"
mv "$OUTPUT.tmp" "$OUTPUT"
say "wrote $OUTPUT"
