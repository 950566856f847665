#!/usr/bin/env bash
# The README shows soundclock's synopsis as the program prints it: the
# lines of the usage text before its first empty line (made at build time
# from soundclock/usage.txt), in one block, in order, with one indentation.
#
#   check_synopsis.sh USAGE_TEXT README
set -uo pipefail
USAGE=$1 README=$2
awk 'NR == FNR { if ($0 == "") done = 1; if (!done) want[n++] = $0; next }
     !found { at = index($0, want[0]); if (at > 0) { found = 1; indent = substr($0, 1, at - 1); i = 1 } ; next }
     i < n { if ($0 != indent want[i]) { printf "README.md differs from the usage text (soundclock/usage.txt):\n  README:     %s\n  usage text: %s%s\n", $0, indent, want[i]; bad = 1; exit } i++ }
     END { if (bad) exit 1
           if (!found) { printf "README.md does not show the synopsis; its first line is:\n  %s\n", want[0]; exit 1 }
           if (i < n) { printf "README.md ends before the synopsis line:\n  %s\n", want[i]; exit 1 }
           printf "README.md shows the synopsis as the program prints it (%d lines)\n", n }' "$USAGE" "$README"
