# Installs a build into a fresh prefix, then builds and runs a C host against the installed
# files twice: found as a CMake package, and through pkg-config (native builds only).
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER=<consumer folder> -DGENERATOR=...
#         -DC_COMPILER=... [-DPKG_CONFIG=...] [-DTOOLCHAIN=...] [-DEMULATOR=...] -P CheckInstall.cmake
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${status}):\n${output}")
  endif()
  message(STATUS "${output}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
if(NOT TOOLCHAIN AND NOT EXISTS ${prefix}/lib/libQuorinCAPI.so.0)
  message(FATAL_ERROR "the installed library has no soname link libQuorinCAPI.so.0")
endif()

set(toolchain_args)
if(TOOLCHAIN)
  set(toolchain_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run(${CMAKE_COMMAND} -G ${GENERATOR} -S ${CONSUMER} -B ${WORK_DIR}/package
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER} ${toolchain_args})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/package)
run(${EMULATOR} ${WORK_DIR}/package/consumer)

if(PKG_CONFIG AND NOT TOOLCHAIN)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs QuorinCAPI OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${C_COMPILER} -std=c11 -Wall -Werror ${CONSUMER}/Consumer.c ${flags} -o ${WORK_DIR}/pkg-consumer)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
  run(${WORK_DIR}/pkg-consumer)
endif()
