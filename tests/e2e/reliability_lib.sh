# Shared by the stress, fault and soak scripts, on top of e2e_lib.sh: what
# a running Windows program costs (resident memory, open files, CPU time,
# all of its Wine process from /proc), the receiver's steps, and the
# loopback (the receiver records what the transmitter plays into the same
# null sink). Sourced after e2e_lib.sh; the caller has set WINE, UIDRIVER
# and, as needed, PHAROLET and QUORVANE.

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
cpu_seconds() { echo "scale=3; $1 / $(getconf CLK_TCK)" | bc; }

# "RSS_KB FDS" of a process.
process_snapshot() { echo "$(rss_kb "$1") $(fd_count "$1")"; }

# Compares two snapshots of one process: resident memory may grow by at
# most MAX_GROWTH_KB, the count of open files not at all. Prints both.
check_no_leak() {
  local name=$1 before=$2 after=$3 max_growth_kb=$4
  local rss_before fds_before rss_after fds_after
  read -r rss_before fds_before <<<"$before"
  read -r rss_after fds_after <<<"$after"
  say "$name: resident $rss_before -> $rss_after kB, open files $fds_before -> $fds_after"
  [ "$fds_after" -le "$fds_before" ] || fail "$name: open files grew from $fds_before to $fds_after"
  [ $((rss_after - rss_before)) -le "$max_growth_kb" ] ||
    fail "$name: resident memory grew by $((rss_after - rss_before)) kB (at most $max_growth_kb allowed)"
}

# The receiver's capture comes from the default source: the null sink's
# monitor, so it hears exactly what the transmitter plays.
loopback_source() {
  pactl set-default-source "$NULL_SINK_NAME.monitor"
}

quorvane_drive() {
  "$WINE" "$UIDRIVER" window "$RECEIVER_TITLE" 30000 "$@"
}

# Starts quorvane in the current WORKDIR; returns when its first block has
# rewritten the peak label. Wine reads a capture stream once per period,
# and makes that period ten times the fragment the server offers a test
# stream. On PulseAudio Wine's own capture latency is kept. On PipeWire
# Wine's own latency makes the graph run in 4 ms periods, and the peak
# jumps whenever the machine is busy for a moment; with the transmitter's
# 200 ms the capture period becomes 2.4 s, and PipeWire's PulseAudio
# service drops a graph period of 256 samples whenever a read comes late
# (the peak jumped by 128 lags every two seconds or so). 20 ms gives a
# capture period of 0.24 s, and the peak stands still but for a rare jump.
QUORVANE_PID=
quorvane_start() {
  local latency=
  if e2e_on_pipewire; then latency=20; fi
  (cd "$WORKDIR" && if [ -n "$latency" ]; then export PULSE_LATENCY_MSEC=$latency; else unset PULSE_LATENCY_MSEC; fi &&
    exec "$WINE" "$QUORVANE") >"$WORKDIR/quorvane.log" 2>&1 &
  QUORVANE_PID=$!
  STARTED_PIDS+=("$QUORVANE_PID")
  local i
  for i in $(seq 100); do
    case $(quorvane_drive text "$ID_PEAK_LABEL" 2>/dev/null) in "Correlation peak at "*) return ;; esac
    sleep 0.1
  done
  fail "quorvane shows no correlation peak"
}

# Moves the clock trackbar to its end (Home key: position 0, +0.2 %), so the
# peak moves by about one lag per block and the label changes with every
# processed block.
quorvane_slant() {
  quorvane_drive key 36 "$ID_CLOCK_TRACKBAR" wait-text "$ID_CLOCK_LABEL" "Clock error 0.200%" 5000
}

# How often the peak label changed in MS milliseconds.
quorvane_label_changes() {
  quorvane_drive count-changes "$ID_PEAK_LABEL" "$1" | tr -d '\r'
}

wait_pid_exit() {
  local pid=$1 timeout_ms=$2 waited=0
  while kill -0 "$pid" 2>/dev/null; do
    [ "$waited" -lt "$timeout_ms" ] || return 1
    sleep 0.1
    waited=$((waited + 100))
  done
  wait "$pid" 2>/dev/null || true
}

# The peak lags quorvane shows for MS milliseconds, one "ELAPSED_MS LAG"
# line per reading (the first, then every change), the lag unwrapped
# across the 511/0 boundary so that a steady drift reads as a straight line.
quorvane_watch_peak() {
  quorvane_drive watch-text "$ID_PEAK_LABEL" "$1" | tr -d '\r' | awk -F'\t' '
    /Correlation peak at/ {
      lag = $2; sub(/ samples.*/, "", lag); sub(/.* /, "", lag); lag += 0
      if (seen) { while (lag - previous > 256) lag -= 512; while (previous - lag > 256) lag += 512 }
      seen = 1; previous = lag
      print $1, lag
    }'
}
