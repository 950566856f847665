# Runs a libFuzzer target for a bounded time over a copy of its corpus, so
# what the run adds never changes the checked-in files.
#   cmake -DFUZZER=<exe> -DCORPUS=<dir> -DWORK_DIR=<dir> -DSECONDS=<n>
#         [-DDICT=<file>] -P run_fuzzer.cmake
# Inputs that fail are left in WORK_DIR (crash-*, timeout-*, leak-*).
foreach(var FUZZER CORPUS WORK_DIR SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/corpus)
file(COPY ${CORPUS}/ DESTINATION ${WORK_DIR}/corpus)

# A megabyte of digits, far longer than anything the fuzzer builds itself
# (it is capped at -max_len below), and too large to keep in the repository.
string(REPEAT "1234567890" 104858 digits)
file(WRITE ${WORK_DIR}/megabyte_of_digits "${digits}")
execute_process(COMMAND ${FUZZER} ${WORK_DIR}/megabyte_of_digits RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzz target failed on a megabyte of digits (exit ${result})")
endif()

set(args -max_total_time=${SECONDS} -max_len=4096 -timeout=10 -print_final_stats=1
    -artifact_prefix=${WORK_DIR}/)
if(DICT)
  list(APPEND args -dict=${DICT})
endif()
execute_process(COMMAND ${FUZZER} ${args} ${WORK_DIR}/corpus RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer found a failing input (exit ${result}); see ${WORK_DIR}")
endif()
