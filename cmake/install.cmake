# find_package(pairsolve) support: the static library, its headers and a package config.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS pairsolve EXPORT pairsolveTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pairsolve)
# Only the pairsolve:: interface is installed; the solver's state and the stand-in host stay inside.
install(FILES host/pairsolve.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pairsolve)
install(EXPORT pairsolveTargets NAMESPACE pairsolve::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pairsolve)
configure_package_config_file(cmake/pairsolveConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/pairsolveConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pairsolve)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/pairsolveConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/pairsolveConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/pairsolveConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pairsolve)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pairsolve)
