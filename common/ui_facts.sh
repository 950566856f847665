# Defines, as shell variables, the titles, control ids and trackbar figures
# of ui_facts.h beside this file (TRANSMITTER_TITLE, ID_TRANSMIT_BUTTON,
# CLOCK_STEPS_PER_UNIT, ...), so scripts use the programs' own values.
# Source it: . common/ui_facts.sh
eval "$(sed -n 's/^constexpr [A-Za-z_ ]*[* ] *\([A-Z_][A-Z0-9_]*\) = \(.*\);.*$/\1=\2/p' \
  "$(dirname "${BASH_SOURCE[0]}")/ui_facts.h")"
