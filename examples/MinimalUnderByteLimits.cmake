# Runs the minimal host under a rising byte limit with out of memory contained. Every run must
# end cleanly: exit 0, or 2 when the limit is below what start-up needs; no crash and no C++
# exception crossing into C. At least one run must have started and then met a contained
# failure (an absent story or an "Out of memory." script error), and one must have completed.
#   cmake -DPROGRAM=... [-DEMULATOR=...] [-DLIBRARY=...] -P MinimalUnderByteLimits.cmake
set(contained 0)
set(completed 0)
foreach(limit RANGE 40000 400000 20000)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} --limit ${limit} ${LIBRARY}
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0 AND NOT status EQUAL 2)
    message(FATAL_ERROR "--limit ${limit}: exited with ${status}\n${output}${errors}")
  endif()
  if(status EQUAL 0 AND output MATCHES "absent|Out of memory")
    math(EXPR contained "${contained} + 1")
  elseif(status EQUAL 0)
    math(EXPR completed "${completed} + 1")
  endif()
endforeach()
if(contained EQUAL 0 OR completed EQUAL 0)
  message(FATAL_ERROR "runs with a contained failure: ${contained}, complete runs: ${completed}")
endif()
message(STATUS "runs with a contained failure: ${contained}, complete runs: ${completed}")
