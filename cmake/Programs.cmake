# soundclock_add_program(NAME APP_LIBRARY): NAME.exe from winmain.cpp and
# NAME.rc in the calling folder. The program's logic lives in APP_LIBRARY,
# which the tests link as well; the executable only adds WinMain with the
# real seams, the icon and the version header. It is built at the top of
# the build folder (build/windows/NAME.exe), where it ships from.
function(soundclock_add_program name app)
  add_executable(${name} WIN32 winmain.cpp ${name}.rc)
  target_link_libraries(${name} PRIVATE ${app})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${CMAKE_CURRENT_BINARY_DIR}/version.h @ONLY)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
