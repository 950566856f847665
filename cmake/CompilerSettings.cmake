# Compiler settings shared by every target.
#
# Numbers are part of the behaviour: the code asks for extended precision
# explicitly with `long double` wherever it wants it, so no target may
# contract a*b+c into a fused multiply-add (that would skip a rounding the
# code relies on) or reorder floating-point sums.
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)

if(SOUNDCLOCK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(MINGW)
  # Only Windows' own DLLs at run time: the C++ runtime and winpthread go in.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
