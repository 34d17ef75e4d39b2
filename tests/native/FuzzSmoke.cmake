# Runs a fuzzer for SECONDS over the committed corpus. libFuzzer writes
# new inputs only into its first directory, a fresh one under WORK, so the
# committed corpus (read as the second directory) is never modified.
foreach(var FUZZER CORPUS DICT WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "FuzzSmoke.cmake: ${var} not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/new" "${WORK}/artifacts")

execute_process(
  COMMAND "${FUZZER}" "${WORK}/new" "${CORPUS}"
    -dict=${DICT}
    -max_total_time=${SECONDS}
    -artifact_prefix=${WORK}/artifacts/
    -print_final_stats=1
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); reproducer in ${WORK}/artifacts")
endif()
