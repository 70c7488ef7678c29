# Runs quorin once and checks its exit code and that its output (standard output and error
# together) matches PATTERN; with RENDER, the standard output must also render with that
# Graphviz program.
#   cmake -DPROGRAM=... [-DEMULATOR=...] -DARGS=... -DCODE=... -DPATTERN=... [-DINPUT=...]
#         [-DRENDER=dot] -P RunQuorin.cmake
if(NOT INPUT)
  set(INPUT /dev/null)
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS} INPUT_FILE ${INPUT}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE code)
string(REPLACE "\r" "" all "${out}${err}")
if(NOT code EQUAL CODE)
  message(FATAL_ERROR "quorin ${ARGS} exited with ${code}, not ${CODE}:\n${all}")
endif()
if(NOT all MATCHES "${PATTERN}")
  message(FATAL_ERROR "The output of quorin ${ARGS} does not match `${PATTERN}`:\n${all}")
endif()
if(RENDER)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/graph.dot "${out}")
  execute_process(COMMAND ${RENDER} -Tsvg ${CMAKE_CURRENT_BINARY_DIR}/graph.dot -o ${CMAKE_CURRENT_BINARY_DIR}/graph.svg
                  RESULT_VARIABLE rendered ERROR_VARIABLE why)
  if(NOT rendered EQUAL 0)
    message(FATAL_ERROR "${RENDER} could not render the graph: ${why}")
  endif()
endif()
