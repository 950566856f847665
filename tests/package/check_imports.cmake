# cmake -D OBJDUMP=<triplet>-objdump -D FILES=a.exe;b.exe -P check_imports.cmake
# cmake -D DUMP=objdump-output.txt -P check_imports.cmake
#
# Fails unless every DLL each program imports is one of Windows' own, so a
# user can copy the .exe alone to any Windows machine: a MinGW C++ runtime
# DLL (libstdc++, libgcc, libwinpthread) in the import table would make the
# program refuse to start there. DUMP checks a saved `objdump -p` output
# instead of running objdump, which lets a test show that the check fails.

cmake_minimum_required(VERSION 3.25)

# Windows' own DLLs, lower case, that a Win32 GUI program may import.
set(windows_dlls
  kernel32.dll user32.dll gdi32.dll winmm.dll comctl32.dll msvcrt.dll
  advapi32.dll shell32.dll ole32.dll oleaut32.dll comdlg32.dll ws2_32.dll
  version.dll ntdll.dll ucrtbase.dll)

function(check_import_table label dump)
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  if(NOT lines)
    message(FATAL_ERROR "${label}: no import table found (not a PE file?)")
  endif()
  set(names "")
  set(foreign "")
  foreach(line ${lines})
    string(REGEX REPLACE "^DLL Name: *" "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND names ${name})
    string(TOLOWER "${name}" lower)
    if(NOT lower IN_LIST windows_dlls AND NOT lower MATCHES "^api-ms-win-")
      list(APPEND foreign ${name})
    endif()
  endforeach()
  list(JOIN names ", " shown)
  if(foreign)
    list(JOIN foreign ", " shown_foreign)
    message(FATAL_ERROR "${label} imports DLLs that Windows does not have: ${shown_foreign} (all: ${shown})")
  endif()
  message(STATUS "${label}: imports only Windows DLLs: ${shown}")
endfunction()

if(DEFINED DUMP)
  file(READ "${DUMP}" dump)
  check_import_table("${DUMP}" "${dump}")
  return()
endif()

if(NOT OBJDUMP OR NOT FILES)
  message(FATAL_ERROR "check_imports.cmake: set OBJDUMP and FILES, or DUMP")
endif()
foreach(file ${FILES})
  execute_process(COMMAND ${OBJDUMP} -p ${file}
    OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed: ${errors}")
  endif()
  get_filename_component(name ${file} NAME)
  check_import_table("${name}" "${dump}")
endforeach()
