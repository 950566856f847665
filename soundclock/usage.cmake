# soundclock's usage text has one home, usage.txt. This script, run at build
# time, puts the signal's defaults into it (from common/signal_facts.h) and
# writes what is made from it:
#   OUTPUT_HEADER  the text as a C++ string for the program (usage_text.h)
#   OUTPUT_TEXT    the text as the program prints it, for the README's check
#   MANUAL_IN/MANUAL_OUT (optional)  the manual page, its SYNOPSIS made
#                  from the text's first paragraph (@SYNOPSIS@ in MANUAL_IN)
# Run as: cmake -DUSAGE=... -DFACTS=... -DOUTPUT_HEADER=... -DOUTPUT_TEXT=...
#         [-DMANUAL_IN=... -DMANUAL_OUT=...] -P usage.cmake
foreach(var USAGE FACTS OUTPUT_HEADER OUTPUT_TEXT)
  if(NOT ${var})
    message(FATAL_ERROR "usage.cmake: ${var} not set")
  endif()
endforeach()

file(READ ${FACTS} facts)
foreach(name DEFAULT_SAMPLE_RATE DEFAULT_CARRIER_FREQUENCY)
  if(NOT facts MATCHES "constexpr [a-z0-9_]+ ${name} = ([0-9]+);")
    message(FATAL_ERROR "usage.cmake: ${name} not found in ${FACTS}")
  endif()
  set(${name} ${CMAKE_MATCH_1})
endforeach()
file(READ ${USAGE} template)
string(CONFIGURE "${template}" text @ONLY)
if(text MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "usage.cmake: a placeholder of usage.txt has no value: ${CMAKE_MATCH_0}")
endif()
file(WRITE ${OUTPUT_TEXT} "${text}")
file(WRITE ${OUTPUT_HEADER} "// Made by soundclock/usage.cmake from soundclock/usage.txt: edit that.\n#pragma once\n\nconstexpr const char* USAGE_TEXT = R\"USAGE(${text})USAGE\";\n")

if(MANUAL_IN)
  # The synopsis: the lines before the first empty one, as they stand, with
  # the program's and the commands' words and the options in bold and the
  # values to give in italics.
  string(FIND "${text}" "\n\n" end)
  string(SUBSTRING "${text}" 0 ${end} synopsis)
  string(REPLACE "\\" "\\e" synopsis "${synopsis}")
  string(REGEX REPLACE "(^|\n)soundclock ([a-z]+)" "\\1\\\\fBsoundclock \\2\\\\fR" synopsis "${synopsis}")
  string(REGEX REPLACE "(^|\n)soundclock -" "\\1\\\\fBsoundclock\\\\fR -" synopsis "${synopsis}")
  string(REGEX REPLACE "(^|[ [|])(--?[a-z][a-z0-9-]*)" "\\1\\\\fB\\2\\\\fR" synopsis "${synopsis}")
  # (twice: a match takes the space the next one starts with)
  foreach(pass 1 2)
    string(REGEX REPLACE "([[ |])([A-Z][A-Z0-9]*)([] |\n]|$)" "\\1\\\\fI\\2\\\\fR\\3" synopsis "${synopsis}")
  endforeach()
  string(REPLACE "-" "\\-" synopsis "${synopsis}")
  file(READ ${MANUAL_IN} manual)
  string(REPLACE "@SYNOPSIS@" ".nf\n${synopsis}\n.fi" manual "${manual}")
  file(WRITE ${MANUAL_OUT} "${manual}")
endif()
