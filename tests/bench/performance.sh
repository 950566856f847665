#!/usr/bin/env bash
# Writes the performance report (docs/performance.md): the DSP benchmarks
# natively and under Wine against their real-time budgets, and the two
# programs under Wine on the loopback at a range of sample rates: CPU time
# per minute of each, and whether the rate is sustained (the transmitter's
# recording equals the synthesis without a gap after its start; the
# receiver's correlation peak stands still, so it lost no buffer), and how
# fast soundclock measures (its meter alone, and the program on a file).
# The receiver is also measured alone, fed by pacat from write_stream.
# `./run bench` builds what it needs and runs this with an X display, a
# PulseAudio server and a Wine prefix set up.
#
#   performance.sh NATIVE_BUILD WINDOWS_BUILD WINE OUTPUT [SECONDS [RATE...]]
set -euo pipefail

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
