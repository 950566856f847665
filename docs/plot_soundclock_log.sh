#!/usr/bin/env bash
# Draws a `soundclock measure --csv` log as a PNG: the burst's delay, from
# the correlation's shape and from the carrier phase, and the carrier phase
# itself, against time. Needs gnuplot (Debian: apt-get install gnuplot-nox).
#
#   docs/plot_soundclock_log.sh LOG.csv PICTURE.png [TITLE]
#
# docs/soundclock-loopback.png was made from a loopback run with a dropout:
# `soundclock signal --seconds 40 --raw` with 200 samples cut out after
# 20 s, played by pacat into a null sink at 8000 Hz, its monitor recorded
# by parec at 8008 Hz, then `soundclock measure --raw --rate 8008
# --seconds 40 --csv LOG.csv` (docs/accuracy.md#loopback-adev): redone after
# the meter's rulers became least-squares fits of the real burst (the
# residual's sawtooth of about 1.3/1000 sample, which followed the
# fractional delay, is gone).
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 LOG.csv PICTURE.png [TITLE]" >&2; exit 2; }
LOG=$1 PICTURE=$2 TITLE=${3:-soundclock measure --csv}
command -v gnuplot >/dev/null || { echo "$0: needs gnuplot (apt-get install gnuplot-nox)" >&2; exit 2; }

# The phase delay's residuals about one straight line with a common slope
# and an intercept per stretch between jumps (as the meter fits them, but
# unweighted): time, residual in thousandths of a sample.
RESIDUALS=$(mktemp)
trap 'rm -f "$RESIDUALS"' EXIT
awk -F, 'NR > 1 && $8 ~ /used/ {
    if ($8 ~ /jump/) s++
    n++; seg[n] = s; x[n] = $1; t[n] = $2; y[n] = $5
    c[s]++; sx[s] += $1; sy[s] += $5
  }
  END {
    for (i = 1; i <= n; i++) { k = seg[i]; dx = x[i] - sx[k] / c[k]; sxx += dx * dx; sxy += dx * (y[i] - sy[k] / c[k]) }
    b = sxy / sxx
    for (i = 1; i <= n; i++) { k = seg[i]; print t[i], 1000 * (y[i] - sy[k] / c[k] - b * (x[i] - sx[k] / c[k])) }
  }' "$LOG" >"$RESIDUALS"
SPREAD=$(awk 'NR == 1 { lo = hi = $2 } { if ($2 < lo) lo = $2; if ($2 > hi) hi = $2 } END { printf "%.3f", hi - lo }' "$RESIDUALS")

gnuplot <<GNUPLOT
set datafile separator ","
set terminal pngcairo size 1000,950 font "DejaVu Sans,10"
set output "$PICTURE"
set multiplot layout 3,1 title "$TITLE"
set grid
set key top left
set xlabel "time in the recording (s)"
set ylabel "delay (samples)"
# Only the bursts used in the fit (the flags column holds "used").
used(c) = (strstrt(strcol(8), "used") > 0) ? column(c) : NaN
set title "Delay of each burst against the 1024-sample grid: it grows by 1024 x offset per burst; the dropout is the jump"
plot "$LOG" every ::1 using 2:(used(4)) with points pt 7 ps 0.5 title "from the fit of the burst's fractional delay", \
     "" every ::1 using 2:(used(5)) with lines lw 1.5 title "from the carrier phase (unwrapped)"
set ylabel "carrier phase (rad)"
set yrange [-3.3:3.3]
set title "Carrier phase of each burst (from its least-squares fit): the fine ruler, one turn per carrier period of delay"
plot "$LOG" every ::1 using 2:(used(6)) with points pt 7 ps 0.5 title "phase"
set autoscale y
set datafile separator whitespace
set ylabel "residual (1/1000 sample)"
set title "The phase's delay about the fitted line (one slope, a new intercept after each jump): ${SPREAD}/1000 sample peak to peak"
plot "$RESIDUALS" using 1:2 with linespoints pt 7 ps 0.4 title "residual"
unset multiplot
GNUPLOT
echo "wrote $PICTURE"
