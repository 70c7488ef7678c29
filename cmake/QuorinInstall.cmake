# Installs what a host builds against: the shared library (versioned on ELF, with its import
# library on Windows), the public header, the CMake package QuorinCAPI with a version file, and
# QuorinCAPI.pc. Included at the end of the top CMakeLists.txt.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS QuorinCAPI EXPORT QuorinCAPITargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/capi/QuorinCAPI.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
       )

set(QUORIN_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorinCAPI)
install(EXPORT QuorinCAPITargets NAMESPACE Quorin:: DESTINATION ${QUORIN_PACKAGE_DIR}
       )
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuorinCAPIConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QuorinCAPIConfig.cmake
                              INSTALL_DESTINATION ${QUORIN_PACKAGE_DIR})
# Before 1.0 a minor release may change the boundary, so only the same minor version matches.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuorinCAPIConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuorinCAPIConfig.cmake
              ${PROJECT_BINARY_DIR}/QuorinCAPIConfigVersion.cmake
        DESTINATION ${QUORIN_PACKAGE_DIR})

# The .pc file finds the prefix from its own folder, so an installed tree can be moved.
set(QUORIN_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QUORIN_PC_TO_PREFIX /prefix/${QUORIN_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" QUORIN_PC_TO_PREFIX "${QUORIN_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/QuorinCAPI.pc.in ${PROJECT_BINARY_DIR}/QuorinCAPI.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/QuorinCAPI.pc DESTINATION ${QUORIN_PC_DIR}
       )
