#!/usr/bin/env bash
# Stress on pharolet.exe under Wine, playing into a null sink:
# - 200 clicks on the on/off button, posted as fast as the driver can, with
#   pauses of 0 to 47 ms between them, so that clicks land in every state
#   (Opening, Running and Stopping);
# - 50 round trips through the sound-card dialog while the signal runs
#   (each one switches it off, as the dialog must);
# - a close request while stopping, and one while opening: the process ends.
# After the clicks the caption must settle on "Turn On" once stopped, and
# the process must not have grown: its open files not at all, its resident
# memory by at most 1 MB. Wine's heap and X11 caches move by a few hundred
# kB on their own; a leak of one ring (1500 headers and buffers, about
# 75 kB) per start would show as 7 MB over the 100 starts here.
#
#   stress_pharolet.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"

MAX_RSS_GROWTH_KB=1024

# Switches off if the clicks left the signal on; the caption must then read
# "Turn On" and stay so. The caption can read "Turn On" while a last click
# still opens the device (Wine answers the driver's text query from inside
# waveOutOpen), so "Turn On" counts only when it holds for half a second.
settle_off() {
  local attempt
  for attempt in 1 2 3; do
    pharolet_drive sleep 500
    if [ "$(pharolet_drive text "$ID_TRANSMIT_BUTTON" | tr -d '\r')" = "Turn Off" ]; then pharolet_drive click "$ID_TRANSMIT_BUTTON"; fi
    pharolet_drive wait-text "$ID_TRANSMIT_BUTTON" "Turn On" 10000 sleep 500
    if [ "$(pharolet_drive text "$ID_TRANSMIT_BUTTON" | tr -d '\r')" = "Turn On" ]; then return; fi
  done
  fail "the caption does not settle on \"Turn On\""
}

click_storm() {
  local clicks=$1 pauses=(0 2 0 5 11 0 23 1 47 3) args=() i
  for ((i = 0; i < clicks; i++)); do
    args+=(click "$ID_TRANSMIT_BUTTON")
    [ "${pauses[i % 10]}" = 0 ] || args+=(sleep "${pauses[i % 10]}")
  done
  pharolet_drive "${args[@]}"
}

soundcard_round_trips() {
  local count=$1 args=() i
  for ((i = 0; i < count; i++)); do
    args+=(window "$TRANSMITTER_TITLE" click "$ID_TRANSMIT_BUTTON" wait-text "$ID_TRANSMIT_BUTTON" "Turn Off" 10000
      click "$ID_SOUNDCARD_BUTTON" window "$SOUNDCARD_TITLE" 10000 wait-text "$ID_DEVICE_OK" OK 10000 click "$ID_DEVICE_OK" wait-gone 10000
      window "$TRANSMITTER_TITLE" wait-text "$ID_TRANSMIT_BUTTON" "Turn On" 10000)
  done
  "$WINE" "$UIDRIVER" "${args[@]}"
}

say "pharolet: warm-up"
pharolet_start "" 8000
pharolet_switch_on
pharolet_drive click "$ID_TRANSMIT_BUTTON" wait-text "$ID_TRANSMIT_BUTTON" "Turn On" 10000
soundcard_round_trips 2
click_storm 20
settle_off
before=$(process_snapshot "$PROGRAM_PID")

say "pharolet: 200 clicks"
click_storm 200
settle_off
kill -0 "$PROGRAM_PID" 2>/dev/null || fail "pharolet ended during the clicks"

say "pharolet: 50 sound-card dialogs while running"
soundcard_round_trips 50
settle_off
check_no_leak pharolet "$before" "$(process_snapshot "$PROGRAM_PID")" "$MAX_RSS_GROWTH_KB"

say "pharolet: close request while stopping"
pharolet_switch_on
pharolet_drive click "$ID_TRANSMIT_BUTTON" close wait-gone 10000
e2e_wait_program_exit 10000
e2e_stop_recording
e2e_unload_null_sink

say "pharolet: close request while opening"
pharolet_start "" 8000
pharolet_drive click "$ID_TRANSMIT_BUTTON" close wait-gone 10000
e2e_wait_program_exit 10000
e2e_stop_recording
e2e_unload_null_sink
say "pharolet stress: OK"
