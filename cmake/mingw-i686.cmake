# 32-bit Windows (the programs as shipped), run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SOUNDCLOCK_MINGW_TRIPLET i686-w64-mingw32)
set(SOUNDCLOCK_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
