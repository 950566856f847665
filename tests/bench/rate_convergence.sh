#!/usr/bin/env bash
# How long `soundclock rate` takes to reach a precision, from its live
# lines ("12.0 s, +0.0312 ppm +- 0.0400 ppm (...)" once a second) of a run
# on a null sink, whose truth is 0 ppm. For each target: the time from
# which the reading stays within it of 0, and the time the reported
# uncertainty first falls to half of it (the 95 % interval within it).
#
#   rate_convergence.sh LIVE_LOG TARGET_PPM...
set -euo pipefail
LOG=$1
shift
for target in "$@"; do
  awk -v target="$target" '
    / s, [-+][0-9.]+ ppm \+- / {
      t = $1 + 0; ppm = $3 + 0; u = $6 + 0
      if ((ppm < 0 ? -ppm : ppm) > target) { stays = "" } else if (stays == "") { stays = t }
      if (uHalf == "" && u <= target / 2) uHalf = t
      last = t
    }
    END {
      printf "| +-%s ppm | %s | %s |\n", target, stays == "" ? "not within " last " s" : stays " s",
             uHalf == "" ? "not within " last " s" : uHalf " s"
    }' "$LOG"
done
