# Installs a build into a fresh prefix, then builds and runs a C host against the installed
# files: found as a CMake package, and (native builds) through pkg-config.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER=<consumer folder> -DGENERATOR=...
#         -DC_COMPILER=... [-DPKG_CONFIG=...] [-DTOOLCHAIN=... -DEMULATOR=... -DEXE_SUFFIX=.exe]
#         -P CheckInstall.cmake
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
macro(run)
  execute_process(COMMAND ${ARGN} COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
endmacro()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
elseif(NOT EXISTS ${prefix}/lib/libQuorinCAPI.so.0)
  message(FATAL_ERROR "the installed library has no soname link libQuorinCAPI.so.0")
endif()
run(${CMAKE_COMMAND} -G ${GENERATOR} -S ${CONSUMER} -B ${WORK_DIR}/package
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER} ${toolchain})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/package)
run(${EMULATOR} ${WORK_DIR}/package/consumer${EXE_SUFFIX})
# The installed quorin finds the installed library (lib/ beside its bin/, or bin/ on Windows).
if(EXISTS ${prefix}/bin/quorin${EXE_SUFFIX})
  run(${EMULATOR} ${prefix}/bin/quorin${EXE_SUFFIX} --version)
endif()

if(PKG_CONFIG AND NOT TOOLCHAIN)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs QuorinCAPI OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${C_COMPILER} -std=c11 -Wall -Werror ${CONSUMER}/Consumer.c ${flags} -o ${WORK_DIR}/pkg-consumer)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
  run(${WORK_DIR}/pkg-consumer)
endif()
