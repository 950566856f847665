#!/usr/bin/env bash
# Faults, on the real programs under Wine:
# 1. the null sink both programs use is removed while they run (pactl
#    unload-module), then loaded again: neither may crash, and both must
#    still close when asked; the transmitter's device may never report its
#    close then, and the window ends CLOSE_WAIT_MS (3 s) after the request.
# 2. no audio server at all (PULSE_SERVER naming a socket that does not
#    exist): pharolet beeps and shows "Error opening waveform audio
#    device!" in a box titled "STANAG 4285", stays at "Turn On" and closes;
#    quorvane shows "No suitable device found" and ends.
# 3. a rate no device accepts (STANAG.SET with line feeds alone reads as
#    80001500): the same two messages.
#
#   faults.sh WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_preamble "$@"

MESSAGE_TEXT=65535 # the static text of a message box
MESSAGE_OK=1

alive() { kill -0 "$1" 2>/dev/null || fail "$2 ended (crashed?)"; }

# The message box titled TITLE must say TEXT; OK dismisses it.
expect_message() {
  local title=$1 text=$2 shown
  shown=$("$WINE" "$UIDRIVER" window "$title" 20000 text $MESSAGE_TEXT | tr -d '\r')
  say "message box \"$title\": \"$shown\""
  [ "$shown" = "$text" ] || fail "expected the message \"$text\", saw \"$shown\""
  "$WINE" "$UIDRIVER" window "$title" click $MESSAGE_OK wait-gone 10000
}

sink_removed_while_running() {
  say "the sink is removed while both programs run"
  pharolet_start "" 8000
  loopback_source
  pharolet_switch_on
  quorvane_start
  sleep 1
  pactl unload-module "$NULL_SINK_MODULE"
  NULL_SINK_MODULE=
  sleep 2
  alive "$PROGRAM_PID" pharolet
  alive "$QUORVANE_PID" quorvane
  e2e_load_null_sink 8000
  loopback_source
  sleep 2
  alive "$PROGRAM_PID" pharolet
  alive "$QUORVANE_PID" quorvane
  say "pharolet reads \"$(pharolet_drive text "$ID_TRANSMIT_BUTTON" | tr -d '\r')\", quorvane \"$(quorvane_drive text "$ID_PEAK_LABEL" | tr -d '\r')\""
  # The stop may never complete on a device that vanished; the close must.
  pharolet_drive click "$ID_TRANSMIT_BUTTON" sleep 500 close wait-gone 10000
  e2e_wait_program_exit 5000
  quorvane_drive close wait-gone 10000
  wait_pid_exit "$QUORVANE_PID" 5000 || fail "quorvane did not end"
  e2e_stop_recording
  e2e_unload_null_sink
}

# Both programs in a fresh work directory with SETTINGS, under ENV...: the
# transmitter's "Turn On" and the receiver's start must fail with their
# messages, and both must end.
open_refused() {
  local settings=$1
  shift
  e2e_new_workdir
  if [ -n "$settings" ]; then printf '%s' "$settings" >"$WORKDIR/STANAG.SET"; fi
  (cd "$WORKDIR" && exec env "$@" "$WINE" "$PHAROLET") >"$WORKDIR/program.log" 2>&1 &
  PROGRAM_PID=$!
  STARTED_PIDS+=("$PROGRAM_PID")
  pharolet_drive wait-text "$ID_TRANSMIT_BUTTON" "Turn On" click "$ID_TRANSMIT_BUTTON"
  expect_message "$TRANSMITTER_BOX_CAPTION" "Error opening waveform audio device!"
  pharolet_drive wait-text "$ID_TRANSMIT_BUTTON" "Turn On" 100 close wait-gone 10000
  e2e_wait_program_exit 5000

  (cd "$WORKDIR" && exec env "$@" "$WINE" "$QUORVANE") >"$WORKDIR/quorvane.log" 2>&1 &
  QUORVANE_PID=$!
  STARTED_PIDS+=("$QUORVANE_PID")
  expect_message "$RECEIVER_BOX_CAPTION" "No suitable device found"
  wait_pid_exit "$QUORVANE_PID" 10000 ||
    fail "quorvane did not end after its start failed (process state $(ps -o stat= -p "$QUORVANE_PID"))"
}

no_audio_server() {
  say "no audio server"
  local runtime
  runtime=$(mktemp -d "$PWD/noserver.XXXXXX")
  chmod 700 "$runtime"
  open_refused "" XDG_RUNTIME_DIR="$runtime" PULSE_SERVER="unix:$runtime/no-server"
}

rate_refused() {
  say "a rate no device accepts (80001500)"
  e2e_load_null_sink 8000
  open_refused $'8000\n1500\n' PULSE_LATENCY_MSEC=200
  e2e_unload_null_sink
}

sink_removed_while_running
no_audio_server
rate_refused
say "faults: OK"
