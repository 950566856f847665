#!/usr/bin/env bash
# End to end: pharolet.exe plays into a PulseAudio null sink at 8000 Hz
# under Wine; two recorders take the sink's monitor at the same time, at
# 8008 and at 7996 Hz. The server's rate conversion makes each exactly a
# card whose clock runs 1000 ppm fast, or 500 ppm slow. soundclock.exe
# (under Wine) measures each recording of a minute: +1000 and -500 ppm
# within 0.01 ppm.
#
#   soundclock_e2e.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE SOUNDCLOCK_EXE
#
# Needs an X display (DISPLAY) and a PulseAudio server reachable with pactl
# (./run test starts both); without them the test is skipped (exit 77).
set -euo pipefail

# shellcheck source=e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"
SOUNDCLOCK=${E2E_ARGS[0]}

# Seconds of signal to record: a minute, and a little for the start.
RECORD_S=63
TOLERANCE_PPM=0.01

# soundclock_record RATE FILE: one more recorder of the sink's monitor.
soundclock_record() {
  local latency=()
  if e2e_on_pipewire; then latency=(--latency-msec=100); fi
  parec --device="$NULL_SINK_NAME.monitor" --format=s16le --rate="$1" --channels=1 --raw "${latency[@]}" >"$2" &
  STARTED_PIDS+=($!)
  RECORDERS+=($!)
}

# soundclock_check RATE EXPECTED_PPM: measures WORKDIR/rec_RATE.raw.
soundclock_check() {
  local rate=$1 expected=$2 result status=0
  result=$(cd "$WORKDIR" && "$WINE" "$SOUNDCLOCK" measure --raw --rate "$rate" "rec_$rate.raw" \
    --signal-rate 8000 --carrier 1500 --expect "$expected" --tolerance "$TOLERANCE_PPM" 2>"soundclock_$rate.log") || status=$?
  result=$(tr -d '\r' <<<"$result")
  say "recorded at $rate Hz: $result"
  [ "$status" = 0 ] || { cat "$WORKDIR/soundclock_$rate.log" >&2; fail "at $rate Hz soundclock did not find $expected ppm within $TOLERANCE_PPM ppm (exit $status)"; }
}

RECORDERS=()
say "transmitter at 8000 Hz into the null sink, recorded at 8008 and 7996 Hz"
pharolet_start "" 8000
soundclock_record 8008 "$WORKDIR/rec_8008.raw"
soundclock_record 7996 "$WORKDIR/rec_7996.raw"
pharolet_switch_on
sleep "$RECORD_S"
for pid in "${RECORDERS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
pharolet_switch_off_and_close

soundclock_check 8008 1000
soundclock_check 7996 -500
say "soundclock end to end: OK"
