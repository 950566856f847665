# Test helpers. GoogleTest is built from Debian's source package for each
# toolchain, so the same test sources run natively and under Wine.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# soundclock_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [SHARDS N])
# One executable, registered as ONE CTest test: under Wine, starting the
# emulator once per test case would dominate the run time. SHARDS splits a
# long one into N tests (NAME_1of2, ...), each running every Nth case
# through GoogleTest's sharding, so that `ctest -j` spreads it over cores.
function(soundclock_add_test name)
  cmake_parse_arguments(T "" "SHARDS" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(NOT T_SHARDS OR T_SHARDS LESS 2)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES
      LABELS "unit;${T_LABELS}"
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    return()
  endif()
  math(EXPR last "${T_SHARDS} - 1")
  foreach(index RANGE ${last})
    math(EXPR number "${index} + 1")
    set(shard ${name}_${number}of${T_SHARDS})
    add_test(NAME ${shard} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${shard} PROPERTIES
      LABELS "unit;${T_LABELS}"
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${index}"
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endforeach()
endfunction()
