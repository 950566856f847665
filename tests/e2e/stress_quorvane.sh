#!/usr/bin/env bash
# Stress on quorvane.exe under Wine, on the loopback: pharolet plays into a
# null sink, quorvane records its monitor with the clock trackbar at one
# end, so the correlation peak moves by about a lag per block and the peak
# label changes with every processed block. 50 round trips through the
# sound-card dialog (each one stops capture and starts it again on fresh
# buffers) must leave quorvane processing (the label keeps changing at
# about the block rate) and must not grow it: its open files not at all,
# its resident memory by at most 1 MB (Wine's own heap and X11 caches move
# by a few hundred kB; a leak of one capture ring, 16 kB, per restart
# would show as 800 kB, its device and buffer handles as open files).
#
#   stress_quorvane.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"

MAX_RSS_GROWTH_KB=1024
WATCH_MS=3000
# 1024 samples a block at 8000 Hz: 23 blocks in 3 s; a third of them is
# plenty to show that processing goes on, whatever the machine's load.
MIN_CHANGES=8

soundcard_round_trips() {
  local count=$1 args=() i
  for ((i = 0; i < count; i++)); do
    args+=(window "$RECEIVER_TITLE" click "$ID_SOUNDCARD_BUTTON" window "$SOUNDCARD_TITLE" 10000 wait-text "$ID_DEVICE_OK" OK 10000
      click "$ID_DEVICE_OK" wait-gone 10000)
  done
  "$WINE" "$UIDRIVER" "${args[@]}"
}

expect_processing() {
  local changes
  changes=$(quorvane_label_changes "$WATCH_MS")
  say "quorvane: the peak label changed $changes times in $WATCH_MS ms ($1)"
  [ "$changes" -ge "$MIN_CHANGES" ] || fail "quorvane stopped processing ($1): $changes changes"
}

pharolet_start "" 8000
loopback_source
pharolet_switch_on
quorvane_start
quorvane_slant
sleep 1 # past the transmitter's leading silence
expect_processing "before"

say "quorvane: warm-up"
soundcard_round_trips 2
sleep 1
before=$(process_snapshot "$QUORVANE_PID")

say "quorvane: 50 sound-card dialogs while running"
soundcard_round_trips 50
sleep 1
expect_processing "after"
check_no_leak quorvane "$before" "$(process_snapshot "$QUORVANE_PID")" "$MAX_RSS_GROWTH_KB"

quorvane_drive close wait-gone 10000
wait_pid_exit "$QUORVANE_PID" 10000 || fail "quorvane did not end"
pharolet_switch_off_and_close
say "quorvane stress: OK"
