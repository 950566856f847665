# cmake -D ZIP=soundclock-<version>-<arch>.zip -D NAME=soundclock-<version>-<arch>
#       -D OBJDUMP=<triplet>-objdump -D FORMAT=pei-i386 -D WORK_DIR=... -P check_bundle.cmake
#
# Unpacks the release zip and checks what a user finds in it: one folder
# holding exactly the two programs and soundclock.exe (for the expected
# machine), the README with the pictures it shows, the licence and a
# STANAG.SET with the default settings and CR LF line ends.
foreach(variable ZIP NAME OBJDUMP FORMAT WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_bundle.cmake: ${variable} is not set")
  endif()
endforeach()
if(NOT EXISTS ${ZIP})
  message(FATAL_ERROR "no bundle at ${ZIP}: build the `bundle` target first")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP}
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()

# The README's pictures must come along, so that it reads the same there.
file(READ ${WORK_DIR}/${NAME}/README.md readme)
string(REGEX MATCHALL "\\(docs/[A-Za-z0-9_.-]+\\.png\\)" pictures "${readme}")
string(REGEX REPLACE "[()]" "" pictures "${pictures}")
list(REMOVE_DUPLICATES pictures)

file(GLOB_RECURSE entries RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
list(SORT entries)
set(expected LICENSE README.md STANAG.SET pharolet.exe quorvane.exe soundclock.exe ${pictures})
list(TRANSFORM expected PREPEND "${NAME}/")
list(SORT expected)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "the bundle holds\n  ${entries}\nnot\n  ${expected}")
endif()

file(READ ${WORK_DIR}/${NAME}/STANAG.SET settings HEX)
# "8000" CR LF "1500" CR LF
if(NOT settings STREQUAL "383030300d0a313530300d0a")
  message(FATAL_ERROR "STANAG.SET in the bundle is not 8000, 1500 with CR LF line ends: ${settings}")
endif()

foreach(program pharolet.exe quorvane.exe soundclock.exe)
  execute_process(COMMAND ${OBJDUMP} -f ${WORK_DIR}/${NAME}/${program} OUTPUT_VARIABLE header)
  if(NOT header MATCHES "file format ${FORMAT}")
    message(FATAL_ERROR "${program} in the bundle is not ${FORMAT}:\n${header}")
  endif()
endforeach()
message(STATUS "${ZIP}: ${entries}")
