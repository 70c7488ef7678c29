# Runs a program and compares its standard output with an expected transcript, ignoring
# carriage returns and lines that name machine-specific paths ("Loaded ..."). Standard input is
# INPUT (a file) when given, else empty.
#   cmake -DPROGRAM=... [-DEMULATOR=...] -DARGS=... [-DINPUT=...] -DEXPECTED=... -P CompareTranscript.cmake
if(NOT INPUT)
  set(INPUT /dev/null)
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
                OUTPUT_VARIABLE actual RESULT_VARIABLE status INPUT_FILE ${INPUT})
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
