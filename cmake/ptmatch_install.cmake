# Installation: headers, the static and the shared library, the ptmatch executable (tools/), a CMake
# package so that find_package(ptmatch CONFIG) works, and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS ptmatch ptmatch_shared ptmatch_warnings EXPORT ptmatchTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_BINARY_DIR}/generated/include/ptmatch/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ptmatch)
install(EXPORT ptmatchTargets NAMESPACE ptmatch:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ptmatch)

configure_package_config_file(cmake/ptmatchConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ptmatchConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ptmatch)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ptmatchConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ptmatchConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/ptmatchConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ptmatch)

# The .pc file finds the prefix from its own place, so that `cmake --install --prefix` anywhere (and moving
# the installed tree) gives a correct file.
file(RELATIVE_PATH PTMATCH_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" PTMATCH_PC_TO_PREFIX "${PTMATCH_PC_TO_PREFIX}")
configure_file(cmake/ptmatch.pc.in ${CMAKE_CURRENT_BINARY_DIR}/ptmatch.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ptmatch.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
