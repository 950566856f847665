# 32-bit Windows (the programs as shipped), run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SOUNDCLOCK_MINGW_TRIPLET i686-w64-mingw32)
set(SOUNDCLOCK_WINE wine)
# float and double arithmetic in SSE2 registers, as on x86_64: every float
# or double result is rounded to its own type where the code stores it, so
# the 32-bit programs compute the same bits as the native and 64-bit builds.
# (On the x87 unit, GCC 12 may keep a C++ float or double at extended
# precision across a cast.) long double stays the x87 80-bit format, which
# is where the code asks for extended precision.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
