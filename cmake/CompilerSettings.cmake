# Compiler settings shared by every target.
#
# Numbers are part of the behaviour: the code asks for extended precision
# explicitly with `long double` wherever it wants it, so no target may
# contract a*b+c into a fused multiply-add (that would skip a rounding the
# code relies on) or reorder floating-point sums.
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)

# Five builds of the same sources (native, sanitizers, fuzzing, two
# Windows ones) make a test run mostly compiling: ccache, where there is
# one, keeps what was compiled before. SOUNDCLOCK_CCACHE=OFF turns it off.
option(SOUNDCLOCK_CCACHE "Compile through ccache when it is installed" ON)
find_program(SOUNDCLOCK_CCACHE_PROGRAM ccache)
if(SOUNDCLOCK_CCACHE AND SOUNDCLOCK_CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${SOUNDCLOCK_CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${SOUNDCLOCK_CCACHE_PROGRAM})
endif()

if(SOUNDCLOCK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(MINGW)
  # Only Windows' own DLLs at run time: the C++ runtime and winpthread go in.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
