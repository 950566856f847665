# The Debian package of soundclock, made by `./run package` with
# `cpack -G DEB` in the native build: what `cmake --install` puts under
# /usr (the program, its manual page), the licence where Debian keeps it,
# and as dependencies the libraries the program links (libasound2 among
# them), found by dpkg-shlibdeps.
include(GNUInstallDirs)
# Installing never builds: cpack would otherwise build every target of the
# tree, tests and all, for three files. Build `soundclock` first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME soundclock)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the soundclock authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sound-card clock offset meter")
set(CPACK_PACKAGE_DESCRIPTION "soundclock plays a test signal on one sound card, records it on another
and measures how far the two cards' sample clocks differ, in ppm, with an
honest uncertainty. It reads WAV files and pipes as well as ALSA devices,
and through ALSA's plugins the PulseAudio and PipeWire servers.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "soundclock maintainers <maintainers@users.noreply.c-seed-383238cf.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The `pulse` and `pipewire` devices are plugins of their own packages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
