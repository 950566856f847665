# 64-bit Windows build of the same sources, run under 64-bit Wine. Used to
# run the Windows tests on machines whose kernel cannot execute 32-bit x86
# code (no ia32 emulation), where 32-bit Wine cannot start at all.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SOUNDCLOCK_MINGW_TRIPLET x86_64-w64-mingw32)
if(EXISTS /usr/lib/wine/wine64)
  set(SOUNDCLOCK_WINE /usr/lib/wine/wine64)
else()
  set(SOUNDCLOCK_WINE wine64)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
