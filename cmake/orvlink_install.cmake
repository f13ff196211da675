# cmake --install: the header, the shared library with its SONAME links,
# orvctl, a pkg-config file and a CMake package (find_package(orvlink) gives
# the target orvlink::orvlink).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS orvlink EXPORT orvlinkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/orvlink.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET orvctl)
  install(TARGETS orvctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(ORVLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvlink)
install(EXPORT orvlinkTargets NAMESPACE orvlink:: DESTINATION ${ORVLINK_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/orvlinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvlinkConfig.cmake INSTALL_DESTINATION ${ORVLINK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvlinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvlinkConfig.cmake ${PROJECT_BINARY_DIR}/orvlinkConfigVersion.cmake
  DESTINATION ${ORVLINK_CMAKE_DIR})

# The .pc file finds its folders relative to itself, so the tree can move.
file(RELATIVE_PATH ORVLINK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/orvlink.pc.in ${PROJECT_BINARY_DIR}/orvlink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvlink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
