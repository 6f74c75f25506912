# Runs PROGRAM with INPUT on standard input and compares standard output with EXPECTED.
execute_process(COMMAND ${PROGRAM} INPUT_FILE ${INPUT} OUTPUT_VARIABLE actual
                RESULT_VARIABLE status TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with status ${status}")
endif()
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  file(WRITE ${OUTPUT} "${actual}")
  message(FATAL_ERROR "output differs from ${EXPECTED}; actual output in ${OUTPUT}")
endif()
