#!/usr/bin/env bash
# Draws the offset as it moved and its stability from a `soundclock measure
# --interval S --track TRACK.csv --adev ADEV.csv` run (or a `soundclock rate
# --reference KIND` run with the same options) as a PNG: the windows'
# offsets against time with their standard uncertainties, and the Allan
# deviation (overlapping, and the modified one) on log-log axes, with
# slopes of -1 (white phase noise: the meter's own floor) and +1 (a drift)
# to read it by. Needs gnuplot (Debian: apt-get install gnuplot-nox).
#
#   docs/plot_soundclock_track.sh TRACK.csv ADEV.csv PICTURE.png [TITLE]
#
# docs/soundclock-steady.png and docs/soundclock-warmup.png: the recordings
# they were made from are in docs/soundclock.md ("Plots") and
# docs/accuracy.md#loopback-adev; docs/soundclock-pps-adev.png (simulated):
# docs/reference-pps.md.
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: $0 TRACK.csv ADEV.csv PICTURE.png [TITLE]" >&2; exit 2; }
TRACK=$1 ADEV=$2 PICTURE=$3 TITLE=${4:-soundclock measure --interval --adev}
command -v gnuplot >/dev/null || { echo "$0: needs gnuplot (apt-get install gnuplot-nox)" >&2; exit 2; }

gnuplot <<GNUPLOT
set datafile separator ","
set terminal pngcairo size 1000,800 font "DejaVu Sans,10"
set output "$PICTURE"
set multiplot layout 2,1 title "$TITLE" noenhanced
set grid
set key top left
set title "The offset per window (bars: the window's span and one standard uncertainty)"
set xlabel "time in the recording (s)"
set ylabel "offset (ppm)"
# Enough decimals that the tick labels differ, whatever the windows' spread.
stats "$TRACK" every ::1 using 3 nooutput prefix "W"
spread = W_max - W_min
decimals = spread > 0 ? ceil(-log10(spread / 4)) : 3
decimals = decimals < 1 ? 1 : decimals
set format y sprintf("%%+.%df", decimals)
plot "$TRACK" every ::1 using ((\$1 + \$2) / 2):3:((\$2 - \$1) / 2):4 with xyerrorbars pt 7 ps 0.6 lc rgb "#1f5fa8" title "window"
set title "Stability: Allan deviation of the clock ratio against the averaging time"
set logscale xy
set format x "%g"
set format y "10^{%L}"
set xlabel "averaging time tau (s)"
set ylabel "fractional frequency deviation"
set key top right
stats "$ADEV" every ::1 using 1:2 nooutput prefix "A"
firstTau = A_min_x
stats "$ADEV" every ::1::1 using 2 nooutput prefix "F"
stats "$ADEV" every ::1 using 1 nooutput prefix "T"
stats "$ADEV" every ::1 using (\$1 == T_max ? \$2 : NaN) nooutput prefix "L"
set xrange [firstTau / 1.5 : T_max * 1.5]
plot "$ADEV" every ::1 using 1:2 with linespoints pt 7 lw 2 lc rgb "#1f5fa8" title "overlapping ADEV", \
     "" every ::1 using 1:4 with linespoints pt 6 lc rgb "#999999" title "modified ADEV", \
     F_max * firstTau / x with lines dt 2 lc rgb "#2a9d3a" title "slope -1 (white phase noise)", \
     L_max * x / T_max with lines dt 3 lc rgb "#c0392b" title "slope +1 (a drift)"
unset multiplot
GNUPLOT
echo "wrote $PICTURE"
