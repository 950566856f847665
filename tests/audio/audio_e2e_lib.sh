# Shared by soundclock's native end-to-end scripts: the audio server
# (PulseAudio, or with E2E_AUDIO_SERVER=pipewire the private PipeWire
# stack whose runtime directory ./run test exports), null sinks at the
# signal's rate, ALSA pointed at PipeWire's plugin, soundclock run with a
# time limit, and cleaning up all of it on any exit.
#
# soundclock reaches the servers through ALSA: the `pulse` plugin
# (libasound2-plugins) on PulseAudio, the `pipewire` plugin on PipeWire.
# That plugin's package conflicts with pulseaudio, so ./run deps takes the
# plugin out of it (SOUNDCLOCK_PIPEWIRE_ALSA_DIR) and a private ALSA
# configuration names it; the system's ALSA setup is left alone.

SINK_MODULES=()
STARTED_PIDS=()
WORK=

say() { printf '== %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
skip() { echo "skipped: $*"; exit 77; }

audio_cleanup() {
  local pid module
  for pid in "${STARTED_PIDS[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  for module in "${SINK_MODULES[@]}"; do pactl unload-module "$module" >/dev/null 2>&1 || true; done
  if on_pipewire; then pw-metadata -n settings 0 clock.force-rate 0 >/dev/null 2>&1 || true; fi
  if [ -n "$WORK" ] && [ -z "${KEEP_WORK:-}" ]; then rm -rf "$WORK"; fi
}
trap audio_cleanup EXIT

on_pipewire() { [ "${E2E_AUDIO_SERVER:-pulseaudio}" = pipewire ]; }

# The server, or skip (exit 77); WORK, a fresh directory for the run.
audio_require_server() {
  if on_pipewire; then
    [ -n "${SOUNDCLOCK_PIPEWIRE_RUNTIME:-}" ] || skip "no PipeWire stack (SOUNDCLOCK_PIPEWIRE_RUNTIME)"
    export XDG_RUNTIME_DIR=$SOUNDCLOCK_PIPEWIRE_RUNTIME
    unset PULSE_SERVER
    timeout 10 pactl info 2>/dev/null | grep -q 'on PipeWire' || skip "no PipeWire server"
    audio_use_pipewire_plugin
  else
    timeout 10 pactl info >/dev/null 2>&1 || skip "no PulseAudio server"
  fi
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/soundclock_audio.XXXXXX")
}

# PipeWire's ALSA plugin, as the rate test also uses it.
# shellcheck source=pipewire_alsa.sh
source "$(dirname "${BASH_SOURCE[0]}")/pipewire_alsa.sh"
audio_use_pipewire_plugin() { use_pipewire_alsa_plugin || skip "$PIPEWIRE_ALSA_MISSING"; }

# The ALSA device of the server's default sink and source.
audio_default_device() { if on_pipewire; then echo pipewire; else echo pulse; fi; }

# load_sink NAME RATE [default]: a mono 16-bit null sink; with `default`,
# the default sink, its monitor the default source. PipeWire runs its
# graph at one rate: held at RATE. On PulseAudio a silent recorder asking
# for 5 ms holds the sink's latency (it renders up to 2 s ahead otherwise;
# see tests/e2e/e2e_lib.sh).
load_sink() {
  local name=$1 rate=$2 module
  if on_pipewire; then pw-metadata -n settings 0 clock.force-rate "$rate" >/dev/null; fi
  module=$(pactl load-module module-null-sink sink_name="$name" rate="$rate" channels=1 format=s16le) ||
    fail "cannot load a null sink"
  SINK_MODULES+=("$module")
  LAST_SINK_MODULE=$module
  if [ "${3:-}" = default ]; then
    pactl set-default-sink "$name"
    pactl set-default-source "$name.monitor"
  fi
  if ! on_pipewire; then
    parec --device="$name.monitor" --format=s16le --channels=1 --raw --latency-msec=5 >/dev/null &
    STARTED_PIDS+=($!)
  fi
}

# start_soundclock NAME LIMIT_S ARGS...: soundclock in the background
# under `timeout`, its output in WORK/NAME.out and .err, its pid in
# SOUNDCLOCK_PID.
start_soundclock() {
  local name=$1 limit=$2
  shift 2
  timeout -k 5 "$limit" "$SOUNDCLOCK" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  SOUNDCLOCK_PID=$!
  STARTED_PIDS+=("$SOUNDCLOCK_PID")
}

# finish_soundclock NAME PID: waits, sets STATUS and OUTPUT (its standard
# output).
finish_soundclock() {
  STATUS=0
  wait "$2" || STATUS=$?
  OUTPUT=$(cat "$WORK/$1.out")
}

show_run() { printf -- '--- %s: exit %s\n%s\n--- its messages:\n%s\n' "$1" "$STATUS" "$OUTPUT" "$(tail -n 12 "$WORK/$1.err")"; }
