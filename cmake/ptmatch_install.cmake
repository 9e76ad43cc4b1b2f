# Installation: headers, the library and a CMake package so that find_package(ptmatch CONFIG) works.
include(CMakePackageConfigHelpers)

install(TARGETS ptmatch ptmatch_warnings EXPORT ptmatchTargets
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
