# ./run demo: the two programs on one machine, the transmitter playing into
# a loopback and the receiver listening to it through a "second card" whose
# clock runs at a known different rate, so there is a real mismatch to trim.
# Sourced by ./run, whose say, die, ensure_display, ensure_pulseaudio,
# ensure_wine and cleanup it uses.

DEMO_USAGE='usage: ./run demo [options]
  --auto               trim the slider automatically, save screenshots, check the reading
                       (the default when there is no DISPLAY)
  --offset-ppm N       the receiver'"'"'s clock runs N ppm fast (negative: slow); default 1000
  --receiver-rate R    or give its sample rate directly (the transmitter runs at 8000)
  --desktop-audio      use the running audio server'"'"'s default output and input
                       (connect them with a cable) instead of a private loopback
  --audio-server S     the private loopback'"'"'s server: pulseaudio (default) or
                       pipewire (with its PulseAudio service, as desktops run it)
  --shots DIR          where --auto saves its screenshots (default build/demo/shots)
  --build-dir DIR      the Windows build to run (default the one ./run test uses)
  --work-dir DIR       working directories, audio server, Wine prefix (default build/demo)'

DEMO_TRANSMITTER_RATE=8000
DEMO_CARRIER=1500
# The programs' titles, control ids and trackbar figures (ID_*, CLOCK_*).
. "$ROOT/common/ui_facts.sh"
DEMO_TRANSMITTER_TITLE=$TRANSMITTER_TITLE
DEMO_RECEIVER_TITLE=$RECEIVER_TITLE
DEMO_WINDOW_SECONDS=30
DEMO_WINDOW_MS=$((DEMO_WINDOW_SECONDS * 1000))
# The trackbar: position p applies the correction (centre - p) / steps per unit.
DEMO_STEPS_PER_UNIT=$CLOCK_STEPS_PER_UNIT
DEMO_TOLERANCE_STEPS=2

DEMO_NULL_SINK_MODULE=
DEMO_TRANSMITTER_PID=
DEMO_RECEIVER_PID=

demo_parse_arguments() {
  DEMO_AUTO= DEMO_DESKTOP_AUDIO= DEMO_RECEIVER_RATE= DEMO_OFFSET_PPM=1000 DEMO_AUDIO_SERVER=pulseaudio
  DEMO_WORK="$ROOT/build/demo" DEMO_SHOTS= DEMO_BUILD=
  while [ $# -gt 0 ]; do
    case "$1" in
      --auto) DEMO_AUTO=1 ;;
      --desktop-audio) DEMO_DESKTOP_AUDIO=1 ;;
      --audio-server) [ $# -ge 2 ] || die "--audio-server needs pulseaudio or pipewire"; DEMO_AUDIO_SERVER=$2; shift ;;
      --offset-ppm) [ $# -ge 2 ] || die "--offset-ppm needs a number"; DEMO_OFFSET_PPM=$2; DEMO_RECEIVER_RATE=; shift ;;
      --receiver-rate) [ $# -ge 2 ] || die "--receiver-rate needs a number"; DEMO_RECEIVER_RATE=$2; shift ;;
      --shots) [ $# -ge 2 ] || die "--shots needs a directory"; DEMO_SHOTS=$2; shift ;;
      --build-dir) [ $# -ge 2 ] || die "--build-dir needs a directory"; DEMO_BUILD=$2; shift ;;
      --work-dir) [ $# -ge 2 ] || die "--work-dir needs a directory"; DEMO_WORK=$2; shift ;;
      -h|--help) printf '%s\n' "$DEMO_USAGE"; exit 0 ;;
      *) printf '%s\n' "$DEMO_USAGE" >&2; die "demo: unknown option $1" ;;
    esac
    shift
  done
  case "$DEMO_AUDIO_SERVER" in
    pulseaudio|pipewire) ;;
    *) die "--audio-server: pulseaudio or pipewire, not $DEMO_AUDIO_SERVER" ;;
  esac
  mkdir -p "$DEMO_WORK"
  DEMO_WORK=$(cd "$DEMO_WORK" && pwd)
  DEMO_SHOTS=${DEMO_SHOTS:-$DEMO_WORK/shots}

  if [ -z "$DEMO_RECEIVER_RATE" ]; then
    [[ "$DEMO_OFFSET_PPM" =~ ^[+-]?[0-9]+(\.[0-9]+)?$ ]] || die "--offset-ppm: not a number: $DEMO_OFFSET_PPM"
    # Sample rates are whole numbers: the nearest rate gives the offset
    # actually induced (steps of 125 ppm at 8000 Hz).
    DEMO_RECEIVER_RATE=$(awk -v t="$DEMO_TRANSMITTER_RATE" -v ppm="$DEMO_OFFSET_PPM" \
      'BEGIN { r = t * (1 + ppm / 1e6); printf "%d", (r >= 0 ? int(r + 0.5) : -int(-r + 0.5)) }')
  fi
  [[ "$DEMO_RECEIVER_RATE" =~ ^[0-9]+$ ]] || die "--receiver-rate: not a whole number: $DEMO_RECEIVER_RATE"
  # The trackbar reaches +-0.2 %: 7984 to 8016 Hz against 8000.
  local lowest=$((DEMO_TRANSMITTER_RATE * 998 / 1000)) highest=$((DEMO_TRANSMITTER_RATE * 1002 / 1000))
  if [ "$DEMO_RECEIVER_RATE" -lt "$lowest" ] || [ "$DEMO_RECEIVER_RATE" -gt "$highest" ]; then
    die "the receiver's rate must lie within 0.2 % of $DEMO_TRANSMITTER_RATE Hz ($lowest to $highest Hz), the trackbar's reach"
  fi
}

# The offset as the receiver sees it: receiver clock / transmitter clock - 1.
demo_offset_text() {
  awk -v r="$DEMO_RECEIVER_RATE" -v t="$DEMO_TRANSMITTER_RATE" \
    'BEGIN { e = r / t - 1; printf "%+.4f %% (%+.0f ppm)", e * 100, e * 1e6 }'
}

demo_expected_position() {
  awk -v r="$DEMO_RECEIVER_RATE" -v t="$DEMO_TRANSMITTER_RATE" -v s="$DEMO_STEPS_PER_UNIT" -v c="$CLOCK_TRACKBAR_CENTRE" \
    'BEGIN { printf "%.1f", c - (r / t - 1) * s }'
}

demo_build() {
  local preset
  preset=$(windows_test_preset)
  DEMO_PRESET=$preset
  DEMO_BUILD=${DEMO_BUILD:-$ROOT/build/$preset}
  mkdir -p "$DEMO_BUILD"
  DEMO_BUILD=$(cd "$DEMO_BUILD" && pwd)
  say "building the programs ($preset build in ${DEMO_BUILD#$ROOT/})"
  if [ ! -f "$DEMO_BUILD/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$DEMO_BUILD" >/dev/null || die "configuring $DEMO_BUILD failed"
  fi
  cmake --build "$DEMO_BUILD" -j "$JOBS" --target pharolet quorvane uidriver autotrim \
    || die "building the programs failed"
  DEMO_UIDRIVER="$DEMO_BUILD/tests/e2e/uidriver.exe"
  DEMO_AUTOTRIM="$DEMO_BUILD/demo/autotrim.exe"
}

demo_wine() {
  if [ "$WINEARCH" = win64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}

# The loopback: a null sink at the transmitter's rate, mono 16-bit, so the
# transmitter's samples pass unconverted; its monitor is the default input.
# The receiver opens that input at its own rate and the server converts:
# exactly a second card whose clock runs at the receiver's rate.
demo_start_audio() {
  if [ -n "$DEMO_DESKTOP_AUDIO" ]; then
    timeout 10 pactl info >/dev/null 2>&1 \
      || die "--desktop-audio: no running audio server answers pactl; leave the option out to use a private one"
    say "audio: the desktop's server, default output $(pactl get-default-sink) and input $(pactl get-default-source)"
    return
  fi
  say "starting a private $DEMO_AUDIO_SERVER server with a loopback (null sink at $DEMO_TRANSMITTER_RATE Hz)"
  ensure_audio_server "$DEMO_AUDIO_SERVER" "$DEMO_WORK/runtime-$DEMO_AUDIO_SERVER"
  if [ "$DEMO_AUDIO_SERVER" = pipewire ]; then
    # PipeWire runs its graph at one rate: the transmitter's, so that only
    # the receiver's stream is converted, as a second card would be.
    pw-metadata -n settings 0 clock.force-rate "$DEMO_TRANSMITTER_RATE" >/dev/null || die "cannot set PipeWire's graph rate"
  fi
  DEMO_NULL_SINK_MODULE=$(pactl load-module module-null-sink sink_name=soundclock_demo \
    rate="$DEMO_TRANSMITTER_RATE" channels=1 format=s16le) || die "cannot load the loopback null sink"
  pactl set-default-sink soundclock_demo
  pactl set-default-source soundclock_demo.monitor
  if [ "$DEMO_AUDIO_SERVER" = pulseaudio ]; then
    # PulseAudio's null sink renders ahead by as much as its clients ask
    # for, 2 s when none asks, and the start of a stream that comes later
    # falls on that silence: a silent client asking for 5 ms keeps it
    # short, and the transmitter starts once the first 2 s have played.
    parec --device=soundclock_demo.monitor --format=s16le --channels=1 --raw --latency-msec=5 >/dev/null 2>&1 &
    STARTED_PIDS+=($!)
    sleep 2.2
  fi
}

demo_cleanup() {
  if [ -n "$DEMO_NULL_SINK_MODULE" ]; then
    pactl unload-module "$DEMO_NULL_SINK_MODULE" >/dev/null 2>&1 || true
    if [ "$DEMO_AUDIO_SERVER" = pipewire ]; then pw-metadata -n settings 0 clock.force-rate 0 >/dev/null 2>&1 || true; fi
  fi
}

# One working directory per program, each with its own STANAG.SET (CR LF).
demo_prepare_directories() {
  mkdir -p "$DEMO_WORK/transmitter" "$DEMO_WORK/receiver"
  printf '%s\r\n%s\r\n' "$DEMO_TRANSMITTER_RATE" "$DEMO_CARRIER" >"$DEMO_WORK/transmitter/STANAG.SET"
  printf '%s\r\n%s\r\n' "$DEMO_RECEIVER_RATE" "$DEMO_CARRIER" >"$DEMO_WORK/receiver/STANAG.SET"
}

# demo_start_program DIRECTORY EXE: runs it under Wine there; sets DEMO_PID.
# Wine asks the server for a 30 ms buffer, which a busy machine lets run
# dry: the transmitter's stream then underruns (silence inserted, a jump
# in the receiver's peak), so it asks for 200 ms, as in the end-to-end
# tests, well below the program's own 0.75 s queue. Not the receiver: Wine
# reads a capture stream once per ten fragments, and at 200 ms the
# receiver's trace hops between a few places (seen on PulseAudio; on
# PipeWire the server drops samples when a read comes late). On PipeWire,
# whose graph Wine's latency otherwise runs in periods of 4 ms, it asks
# for 20 ms; on PulseAudio it keeps Wine's own.
demo_start_program() {
  local directory=$1 exe=$2 wine latency=(PULSE_LATENCY_MSEC=200)
  wine=$(demo_wine)
  if [[ $exe == *quorvane.exe ]]; then
    latency=()
    [ "$DEMO_AUDIO_SERVER" = pipewire ] && latency=(PULSE_LATENCY_MSEC=20)
  fi
  (cd "$directory" && exec env "${latency[@]}" "$wine" "$exe") >"$directory/wine.log" 2>&1 &
  DEMO_PID=$!
  STARTED_PIDS+=("$DEMO_PID")
}

# demo_drive TITLE WAIT_MS COMMANDS...: uidriver on the window titled
# TITLE, waiting up to WAIT_MS for it to appear.
demo_drive() {
  local title=$1 wait_ms=$2
  shift 2
  timeout 90 "$(demo_wine)" "$DEMO_UIDRIVER" window "$title" "$wait_ms" "$@"
}

demo_start_transmitter() {
  say "starting the transmitter (pharolet.exe, $DEMO_TRANSMITTER_RATE Hz) under Wine"
  demo_start_program "$DEMO_WORK/transmitter" "$DEMO_BUILD/pharolet.exe"
  DEMO_TRANSMITTER_PID=$DEMO_PID
  demo_drive "$DEMO_TRANSMITTER_TITLE" "$DEMO_WINDOW_MS" wait-text "$ID_TRANSMIT_BUTTON" "Turn On" >/dev/null 2>&1 \
    || die "the transmitter's window \"$DEMO_TRANSMITTER_TITLE\" did not appear within $DEMO_WINDOW_SECONDS s (see ${DEMO_WORK#$ROOT/}/transmitter/wine.log)"
  say "turning the transmitter on"
  demo_drive "$DEMO_TRANSMITTER_TITLE" 2000 click "$ID_TRANSMIT_BUTTON" wait-text "$ID_TRANSMIT_BUTTON" "Turn Off" 10000 >/dev/null 2>&1 \
    || die "the transmitter did not start playing within 10 s: its button does not read \"Turn Off\" (is there a box \"Error opening waveform audio device!\"?)"
}

demo_start_receiver() {
  say "starting the receiver (quorvane.exe, $DEMO_RECEIVER_RATE Hz) under Wine"
  demo_start_program "$DEMO_WORK/receiver" "$DEMO_BUILD/quorvane.exe"
  DEMO_RECEIVER_PID=$DEMO_PID
  demo_drive "$DEMO_RECEIVER_TITLE" "$DEMO_WINDOW_MS" >/dev/null 2>&1 \
    || die "the receiver's window \"$DEMO_RECEIVER_TITLE\" did not appear within $DEMO_WINDOW_SECONDS s (see ${DEMO_WORK#$ROOT/}/receiver/wine.log; a box \"No suitable device found\" means the audio server offers no input at $DEMO_RECEIVER_RATE Hz)"
}

# demo_screenshot TITLE FILE: the window as PNG, from the X server.
demo_screenshot() {
  local title=$1 file=$2 id= i
  for i in $(seq 50); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{ print $1 }' | head -n 1)
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || die "no X window titled \"$title\" to take a picture of"
  mkdir -p "$(dirname "$file")"
  import -window "$id" "$file" || die "import could not take a picture of \"$title\""
  say "saved ${file#$ROOT/}"
}

# demo_autotrim ARGS...: autotrim.exe's progress goes to the terminal; the
# value of its "result:" line is printed to stdout.
demo_autotrim() {
  local output="$DEMO_WORK/autotrim.out"
  : >"$output"
  timeout 600 "$(demo_wine)" "$DEMO_AUTOTRIM" "$DEMO_RECEIVER_RATE" "$@" >>"$output" &
  local pid=$! status=0 follower
  tail -n +1 -f --pid="$pid" "$output" | grep --line-buffered -v '^result:' >&2 &
  follower=$!
  wait "$pid" || status=$?
  wait "$follower" 2>/dev/null || true
  [ "$status" = 0 ] || return 1
  sed -n 's/^result: //p' "$output"
}

demo_stop_programs() {
  demo_drive "$DEMO_RECEIVER_TITLE" 2000 close wait-gone 10000 >/dev/null 2>&1 || true
  # The transmitter stops playing first and ends when its device has closed.
  demo_drive "$DEMO_TRANSMITTER_TITLE" 2000 close wait-gone 10000 >/dev/null 2>&1 || true
}

demo_interactive() {
  local expected
  expected=$(demo_expected_position)
  say "Drag the receiver's slider until the trace in its waterfall stands still: expect the slider near $expected and \"Clock error\" near $(awk -v r="$DEMO_RECEIVER_RATE" -v t="$DEMO_TRANSMITTER_RATE" 'BEGIN { printf "%.3f%%", (r / t - 1) * 100 }'). Close the receiver to end the demo."
  wait "$DEMO_RECEIVER_PID" 2>/dev/null || true
  say "the receiver has ended; stopping the transmitter"
  demo_stop_programs
}

# Seconds for the waterfall's 200 rows, one per block of 1024 samples.
demo_waterfall_seconds() {
  awk -v r="$DEMO_RECEIVER_RATE" 'BEGIN { printf "%d", 200 * 1024 / r + 1 }'
}

demo_auto() {
  local drift position expected reading fill
  expected=$(demo_expected_position)
  fill=$(demo_waterfall_seconds)
  say "untrimmed (trackbar at $CLOCK_TRACKBAR_CENTRE): watching the peak while the waterfall fills ($fill s)"
  drift=$(demo_autotrim observe "$CLOCK_TRACKBAR_CENTRE" "$fill") || die "autotrim could not watch the receiver's peak (see above)"
  say "untrimmed, the peak moves $drift (the clock offset times 512: $(awk -v r="$DEMO_RECEIVER_RATE" -v t="$DEMO_TRANSMITTER_RATE" 'BEGIN { printf "%.4f", (r / t - 1) * 512 }'))"
  demo_screenshot "$DEMO_RECEIVER_TITLE" "$DEMO_SHOTS/quorvane-untrimmed.png"

  # autotrim ends by watching the still peak for the waterfall's 200 rows:
  # the screenshot then shows only the trimmed trace.
  say "finding the trackbar position where the peak stands still, confirming it, watching the peak there"
  position=$(demo_autotrim find) || die "autotrim did not find where the peak stands still (see above)"
  position=${position#position }
  demo_screenshot "$DEMO_RECEIVER_TITLE" "$DEMO_SHOTS/quorvane-trimmed.png"
  reading=$(demo_drive "$DEMO_RECEIVER_TITLE" 2000 text "$ID_CLOCK_LABEL") || die "cannot read the receiver's clock label"
  reading=$(printf '%s' "$reading" | tr -d '\r')

  say "induced offset:   $(demo_offset_text) (receiver $DEMO_RECEIVER_RATE Hz against transmitter $DEMO_TRANSMITTER_RATE Hz)"
  say "position found:   $position (expected $expected)"
  say "reading:          \"$reading\""
  demo_soundclock "$reading"
  demo_stop_programs
  # The label shows three decimals of a percent (5 trackbar steps), so the
  # reading may also be off by half of its last digit.
  local percent=${reading#Clock error }
  percent=${percent%\%}
  if ! awk -v p="$position" -v e="$expected" -v tol="$DEMO_TOLERANCE_STEPS" \
    'BEGIN { d = p - e; if (d < 0) d = -d; exit !(d <= tol) }'; then
    die "demo: the position found is more than $DEMO_TOLERANCE_STEPS trackbar steps from the expected $expected"
  fi
  if ! awk -v x="$percent" -v r="$DEMO_RECEIVER_RATE" -v t="$DEMO_TRANSMITTER_RATE" \
    -v tol="$DEMO_TOLERANCE_STEPS" -v s="$DEMO_STEPS_PER_UNIT" \
    'BEGIN { if (x !~ /^-?[0-9]+\.[0-9][0-9][0-9]$/) exit 1
             d = x - (r / t - 1) * 100; if (d < 0) d = -d; exit !(d <= tol / s * 100 + 0.0005 + 1e-9) }'; then
    die "demo: the reading \"$reading\" does not match the induced offset $(demo_offset_text)"
  fi
  say "demo: OK (the reading matches the induced offset within $DEMO_TOLERANCE_STEPS trackbar steps)"
}

# soundclock measures the same loopback while the transmitter still plays,
# live from the receiver's input: ALSA's pulse device (libasound2-plugins)
# records the audio server's default source, the loopback's monitor, on
# the server the demo runs (it follows XDG_RUNTIME_DIR, or PULSE_SERVER),
# at the receiver's rate. Its figure is printed beside the slider's
# reading; the demo's verdict stays the slider's.
DEMO_SOUNDCLOCK_SECONDS=20
DEMO_SOUNDCLOCK_DEVICE=pulse
demo_soundclock() {
  local reading=$1 tool="$ROOT/build/native/soundclock" result
  say "building soundclock natively (build/native)"
  if ! { cmake --preset native >/dev/null && cmake --build --preset native -j "$JOBS" --target soundclock >/dev/null; }; then
    say "soundclock: the native build failed; no measurement"
    return 0
  fi
  say "soundclock: measuring the receiver's input live (ALSA device $DEMO_SOUNDCLOCK_DEVICE) at $DEMO_RECEIVER_RATE Hz for $DEMO_SOUNDCLOCK_SECONDS s"
  result=$(timeout $((DEMO_SOUNDCLOCK_SECONDS + 30)) "$tool" measure --device "$DEMO_SOUNDCLOCK_DEVICE" \
    --rate "$DEMO_RECEIVER_RATE" --signal-rate "$DEMO_TRANSMITTER_RATE" --carrier "$DEMO_CARRIER" \
    --seconds "$DEMO_SOUNDCLOCK_SECONDS" --quiet) || true
  say "induced offset:   $(demo_offset_text)"
  say "slider reading:   \"$reading\""
  say "soundclock:       ${result:-no figure (see its message above)}"
}

cmd_demo() {
  local started_without_display=
  [ -n "${DISPLAY:-}" ] || started_without_display=1
  demo_parse_arguments "$@"
  [ -n "$started_without_display" ] && DEMO_AUTO=1
  trap 'demo_cleanup; cleanup' EXIT

  cmd_deps
  demo_build
  ensure_display
  demo_start_audio
  say "preparing Wine (${DEMO_WORK#$ROOT/}/wineprefix)"
  ensure_wine "$DEMO_PRESET" "$DEMO_WORK/wineprefix"
  if [ -z "$DEMO_AUTO" ]; then
    # On a desktop the window manager frames and moves the windows.
    timeout 60 "$(demo_wine)" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1 || true
  fi
  demo_prepare_directories
  say "induced clock offset: receiver $(demo_offset_text) ($DEMO_RECEIVER_RATE Hz against $DEMO_TRANSMITTER_RATE Hz)"

  demo_start_transmitter
  [ -n "$DEMO_AUTO" ] && demo_screenshot "$DEMO_TRANSMITTER_TITLE" "$DEMO_SHOTS/pharolet.png"
  demo_start_receiver
  if [ -n "$DEMO_AUTO" ]; then demo_auto; else demo_interactive; fi
}
