# Shared by the end-to-end scripts: the environment check, a null sink on
# the audio server, a recording of its monitor, a Wine program run in a
# work directory, and cleaning up all of it on any exit.
#
# A script either calls e2e_preamble with its arguments (the common
# preamble: WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE,
# then its own, left in E2E_ARGS), or sets WINE itself before using these.
#
# The audio server: PulseAudio, whose socket the environment names, or with
# E2E_AUDIO_SERVER=pipewire the private PipeWire stack whose runtime
# directory ./run test exports as SOUNDCLOCK_PIPEWIRE_RUNTIME.

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The programs' titles and control ids (TRANSMITTER_TITLE, ID_TRANSMIT_BUTTON, ...).
# shellcheck source=../../common/ui_facts.sh
source "$E2E_LIB_DIR/../../common/ui_facts.sh"

STARTED_PIDS=()
NULL_SINK_MODULE=
PREVIOUS_DEFAULT_SINK=
RECORDER_PID=
LATENCY_HOLDER_PID=
NULL_SINK_LOADED_AT=
PROGRAM_PID=
WORKDIR=
E2E_ARGS=()
# pharolet's ring: one-symbol buffers, all queued when it starts.
PHAROLET_RING_BUFFERS=1500

say() { printf '== %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

e2e_cleanup() {
  local pid
  for pid in "${STARTED_PIDS[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  if [ -n "$NULL_SINK_MODULE" ]; then e2e_unload_null_sink; fi
}
trap e2e_cleanup EXIT

e2e_preamble() {
  [ $# -ge 5 ] || fail "usage: $(basename "$0") WINE PHAROLET_EXE QUORVANE_EXE UIDRIVER_EXE STREAMCHECK_EXE [ARGS...]"
  WINE=$1 PHAROLET=$2 QUORVANE=$3 UIDRIVER=$4 STREAMCHECK=$5
  shift 5
  E2E_ARGS=("$@")
  # shellcheck source=reliability_lib.sh
  source "$E2E_LIB_DIR/reliability_lib.sh"
  e2e_require_environment
}

e2e_on_pipewire() { [ "${E2E_AUDIO_SERVER:-pulseaudio}" = pipewire ]; }

e2e_require_environment() {
  if [ -z "${DISPLAY:-}" ]; then echo "skipped: no X display (DISPLAY)"; exit 77; fi
  if e2e_on_pipewire; then
    if [ -z "${SOUNDCLOCK_PIPEWIRE_RUNTIME:-}" ]; then echo "skipped: no PipeWire stack (SOUNDCLOCK_PIPEWIRE_RUNTIME)"; exit 77; fi
    export XDG_RUNTIME_DIR=$SOUNDCLOCK_PIPEWIRE_RUNTIME
    unset PULSE_SERVER
    if ! timeout 10 pactl info 2>/dev/null | grep -q 'on PipeWire'; then echo "skipped: no PipeWire server"; exit 77; fi
    say "audio server: $(pactl info | sed -n 's/^Server Name: //p')"
    return
  fi
  if ! timeout 10 pactl info >/dev/null 2>&1; then echo "skipped: no PulseAudio server"; exit 77; fi
}

# A fresh directory for the program's working directory and the recording.
e2e_new_workdir() {
  WORKDIR=$(mktemp -d "$PWD/run.XXXXXX")
}

winepath_of() {
  "$WINE" winepath -w "$1" 2>/dev/null
}

# A mono 16-bit null sink at RATE as the default sink, so the server passes
# the program's samples through unconverted. PipeWire runs its whole graph
# at one rate (48000 Hz unless told otherwise) and would convert the
# samples twice on their way round the loopback: the graph is held at RATE
# while the sink is loaded.
e2e_load_null_sink() {
  local rate=$1
  PREVIOUS_DEFAULT_SINK=$(pactl get-default-sink 2>/dev/null || true)
  NULL_SINK_NAME="soundclock_e2e_$$"
  if e2e_on_pipewire; then pw-metadata -n settings 0 clock.force-rate "$rate" >/dev/null; fi
  NULL_SINK_MODULE=$(pactl load-module module-null-sink sink_name="$NULL_SINK_NAME" \
    rate="$rate" channels=1 format=s16le) || fail "cannot load a null sink"
  pactl set-default-sink "$NULL_SINK_NAME"
  e2e_hold_sink_latency
}

# PulseAudio's null sink renders ahead of time by as much latency as its
# clients ask for, up to 2 s when none asks. A stream that starts later is
# placed behind what was rendered: its first samples fall on time already
# rendered as silence, all but what the sink takes back (a rewind), and are
# replaced by silence or, when the wait is long, discarded by Wine's
# driver, whose own clock runs on meanwhile. (A card's sink can take back
# its whole buffer.) So on PulseAudio a silent recorder asking for 5 ms
# stays on the sink's monitor while it is loaded (with 100 ms the first
# 0.13 s of a later "Turn On" came out silent in 4 of 9 starts, with 20 ms
# up to 0.25 s in 2 of 9; with 5 ms nothing in 30 starts, 18 of them
# later ones), and the first sound waits until the 2 s the sink may have
# rendered before the holder came have played (e2e_wait_sink_settled).
e2e_hold_sink_latency() {
  NULL_SINK_LOADED_AT=$(date +%s%N)
  e2e_on_pipewire && return 0
  parec --device="$NULL_SINK_NAME.monitor" --format=s16le --channels=1 --raw --latency-msec=5 >/dev/null &
  LATENCY_HOLDER_PID=$!
  STARTED_PIDS+=("$LATENCY_HOLDER_PID")
}

e2e_wait_sink_settled() {
  [ -n "$NULL_SINK_LOADED_AT" ] || return 0
  local remaining_ms=$(((NULL_SINK_LOADED_AT + 2200000000 - $(date +%s%N)) / 1000000))
  if [ "$remaining_ms" -gt 0 ]; then sleep "$(printf '%d.%03d' $((remaining_ms / 1000)) $((remaining_ms % 1000)))"; fi
  NULL_SINK_LOADED_AT=
}

e2e_unload_null_sink() {
  if [ -n "$LATENCY_HOLDER_PID" ]; then
    kill "$LATENCY_HOLDER_PID" >/dev/null 2>&1 || true
    wait "$LATENCY_HOLDER_PID" 2>/dev/null || true
    LATENCY_HOLDER_PID=
  fi
  pactl unload-module "$NULL_SINK_MODULE" >/dev/null 2>&1 || true
  NULL_SINK_MODULE=
  if e2e_on_pipewire; then pw-metadata -n settings 0 clock.force-rate 0 >/dev/null 2>&1 || true; fi
  if [ -n "$PREVIOUS_DEFAULT_SINK" ]; then pactl set-default-sink "$PREVIOUS_DEFAULT_SINK" >/dev/null 2>&1 || true; fi
}

# PipeWire hands a recording client its data in 2 s chunks unless it asks
# for a latency, and a client that is ended loses its last chunk.
e2e_start_recording() {
  local rate=$1 file=$2 latency=()
  if e2e_on_pipewire; then latency=(--latency-msec=100); fi
  parec --device="$NULL_SINK_NAME.monitor" --format=s16le --rate="$rate" --channels=1 --raw "${latency[@]}" >"$file" &
  RECORDER_PID=$!
  STARTED_PIDS+=("$RECORDER_PID")
  sleep 0.5
}

e2e_stop_recording() {
  kill "$RECORDER_PID" >/dev/null 2>&1 || true
  wait "$RECORDER_PID" 2>/dev/null || true
}

# Starts a Windows program in WORKDIR (where it reads STANAG.SET).
# Wine asks the audio server for a 30 ms buffer; a busy machine (two cores,
# tests in parallel) lets that run dry, and the server then plays silence
# and may drop samples to catch up. 200 ms (still well below the program's
# own 0.75 s queue) keeps the server's stream fed.
e2e_start_program() {
  (cd "$WORKDIR" && PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-200} exec "$WINE" "$1") >"$WORKDIR/program.log" 2>&1 &
  PROGRAM_PID=$!
  STARTED_PIDS+=("$PROGRAM_PID")
}

e2e_wait_program_exit() {
  local timeout_ms=$1 waited=0
  while kill -0 "$PROGRAM_PID" 2>/dev/null; do
    [ "$waited" -lt "$timeout_ms" ] || fail "the program did not end within $timeout_ms ms"
    sleep 0.1
    waited=$((waited + 100))
  done
  wait "$PROGRAM_PID" 2>/dev/null || true
}

# ---- pharolet's steps, shared by its test and its measurement; the caller
# has set PHAROLET, UIDRIVER and STREAMCHECK as well.

pharolet_drive() {
  "$WINE" "$UIDRIVER" window "$TRANSMITTER_TITLE" 30000 "$@"
}

# pharolet in a fresh work directory with SETTINGS as its STANAG.SET (none
# when empty), playing into a null sink at RATE that is being recorded.
pharolet_start() {
  local settings=$1 rate=$2
  e2e_new_workdir
  if [ -n "$settings" ]; then printf '%s' "$settings" >"$WORKDIR/STANAG.SET"; fi
  e2e_load_null_sink "$rate"
  e2e_start_recording "$rate" "$WORKDIR/recording.raw"
  e2e_start_program "$PHAROLET"
  pharolet_drive wait-text "$ID_TRANSMIT_BUTTON" "Turn On"
}

# "Turn On": the caption changes only when the device reports that it is open.
pharolet_switch_on() {
  e2e_wait_sink_settled
  pharolet_drive click "$ID_TRANSMIT_BUTTON" wait-text "$ID_TRANSMIT_BUTTON" "Turn Off" 10000
}

# "Turn Off", then close the window: the process must end.
pharolet_switch_off_and_close() {
  pharolet_drive click "$ID_TRANSMIT_BUTTON" wait-text "$ID_TRANSMIT_BUTTON" "Turn On" 10000
  sleep 1
  e2e_stop_recording
  pharolet_drive close wait-gone 10000
  e2e_wait_program_exit 10000
  e2e_unload_null_sink
}

# streamcheck on the recording: RATE CARRIER MIN_SECONDS MAX_GAPS.
pharolet_check_recording() {
  "$WINE" "$STREAMCHECK" "$(winepath_of "$WORKDIR/recording.raw")" "$@"
}
