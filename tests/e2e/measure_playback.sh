#!/usr/bin/env bash
# A measurement, not a test: pharolet.exe under Wine plays for SECONDS at
# each sample rate into a PulseAudio null sink at that rate. For each rate
# it prints the CPU time the process used per second of transmission
# (utime + stime from /proc/PID/stat) and the gaps streamcheck finds in the
# recording. Needs what pharolet_e2e.sh needs (X display, PulseAudio).
#
#   measure_playback.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE [SECONDS [RATE...]]
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"
SECONDS_PER_RATE=${E2E_ARGS[0]:-30}
RATES=("${E2E_ARGS[@]:1}")
[ ${#RATES[@]} -gt 0 ] || RATES=(8000 16000 44100 48000)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

for rate in "${RATES[@]}"; do
  pharolet_start "$rate"$'\r\n1500\r\n' "$rate"
  pharolet_switch_on
  ticks_before=$(cpu_ticks "$PROGRAM_PID")
  started=$(date +%s.%N)
  sleep "$SECONDS_PER_RATE"
  ticks_after=$(cpu_ticks "$PROGRAM_PID")
  ended=$(date +%s.%N)
  pharolet_switch_off_and_close
  cpu=$(echo "scale=4; ($ticks_after - $ticks_before) / $(getconf CLK_TCK) / ($ended - $started)" | bc)
  check=$(pharolet_check_recording "$rate" 1500 1 1000000 | tail -n 2 | tr -d '\r' | paste -sd ' ' - || true)
  printf '%6s Hz: %s s CPU per s of transmission; %s\n' "$rate" "$cpu" "$check"
done
