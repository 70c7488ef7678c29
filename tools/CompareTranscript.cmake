# Runs a program and compares its standard output with an expected transcript, ignoring
# carriage returns and lines that name machine-specific paths ("Loaded ...").
#   cmake -DPROGRAM=... [-DEMULATOR=...] -DARGS=... -DEXPECTED=... -P CompareTranscript.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
                OUTPUT_VARIABLE actual RESULT_VARIABLE status INPUT_FILE /dev/null)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${status}:\n${actual}")
endif()
string(REPLACE "\r" "" actual "${actual}")
string(REGEX REPLACE "(^|\n)Loaded [^\n]*" "" actual "${actual}")
file(READ ${EXPECTED} expected)
string(REPLACE "\r" "" expected "${expected}")
string(REGEX REPLACE "(^|\n)Loaded [^\n]*" "" expected "${expected}")
if(NOT actual STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/transcript.actual "${actual}")
  message(FATAL_ERROR "Transcript differs from ${EXPECTED}; the run printed:\n${actual}")
endif()
message(STATUS "Transcript matches ${EXPECTED}")
