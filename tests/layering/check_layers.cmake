# Fails when an #include points the wrong way between the source folders:
#   common/            portable, shared by everything: includes only common/
#   platform/          the Win32 layer: includes only platform/ and common/
#   receiver/dsp/,     portable signal processing: no Win32 header, nothing
#   transmitter/dsp/   from platform/ or from the other program
#   receiver/,         the programs: never each other
#   transmitter/
#   meter/             soundclock's portable meter: no Win32 header, nothing
#                      from platform/, audio/ or soundclock/ (it never knows
#                      which sound backend runs, nor who prints its figures)
#   audio/             the sound devices: the interface and the ALSA backend
#                      include no Win32 header and nothing from platform/;
#                      only the Windows backend (winmm_*) may use both, and
#                      the Windows clock state platform/'s time service
#   soundclock/        the program: over meter/, audio/ and the DSP
#                      libraries; nothing includes it
# Run as: cmake -DSOURCE_DIR=<tree> -P check_layers.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_layers.cmake: SOURCE_DIR not set")
endif()

set(WIN32_HEADERS "windows.h|mmsystem.h|commctrl.h|winuser.h|wingdi.h|mmreg.h")

# check(<folder> <forbidden project-include regex> <Win32 headers forbidden: ON/OFF>
#       [<regex of the files under the folder left out>])
set(violations "")
function(check folder forbidden no_win32)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  if(ARGC GREATER 3)
    list(FILTER sources EXCLUDE REGEX "${ARGV3}")
  endif()
  foreach(source ${sources})
    file(STRINGS ${SOURCE_DIR}/${source} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*$" "\\1" header "${line}")
      if(header MATCHES "${forbidden}")
        list(APPEND violations "${source}: includes ${header}")
      elseif(no_win32 AND header MATCHES "^(${WIN32_HEADERS})$")
        list(APPEND violations "${source}: includes the Win32 header ${header}")
      endif()
    endforeach()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

check(common "^(platform|receiver|transmitter|demo|tests)/" ON)
check(platform "^(receiver|transmitter|demo|tests)/" OFF)
check(receiver/dsp "^(platform|transmitter|demo|tests)/" ON)
check(transmitter/dsp "^(platform|receiver|demo|tests)/" ON)
check(receiver "^(transmitter|demo|tests)/" OFF)
check(transmitter "^(receiver|demo|tests)/" OFF)
check(common "^(audio|meter|soundclock)/" ON)
check(receiver/dsp "^(audio|meter|soundclock)/" ON)
check(transmitter/dsp "^(audio|meter|soundclock)/" ON)
check(meter "^(platform|receiver|audio|soundclock|demo|tests)/" ON)
check(audio "^(platform|receiver|transmitter|meter|soundclock|demo|tests)/" ON "^audio/(winmm_|system_clock_windows)")
check(audio "^(receiver|transmitter|meter|soundclock|demo|tests)/" OFF)
check(platform "^(audio|meter|soundclock)/" OFF)
check(receiver "^(audio|meter|soundclock)/" OFF)
check(transmitter "^(audio|meter|soundclock)/" OFF)
check(soundclock "^(platform|receiver/[^d]|transmitter/[^d]|demo|tests)/" ON)

if(violations)
  list(REMOVE_DUPLICATES violations)
  string(REPLACE ";" "\n  " listed "${violations}")
  message(FATAL_ERROR "includes that point the wrong way:\n  ${listed}")
endif()
message(STATUS "layers: every include points down")
