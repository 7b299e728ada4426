# The SDK around the two libraries (their own rules install the libraries and
# their headers): the host interface and the containers that the library's
# headers include, the CMake package and the pkg-config files.
#
# Every header keeps its path from the project root below one include prefix,
# <prefix>/include/zema, so "h/...", "containers/...", "atm/zema/..." and
# "host/..." resolve there as they do in the source tree.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/h ${PROJECT_SOURCE_DIR}/containers
  DESTINATION ${ZEMA_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

# find_package(zema 1.0) accepts any 1.x at least 1.0, built for the same
# pointer size as the program that asks.
set(ZEMA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zema)
install(EXPORT zemaTargets NAMESPACE zema:: DESTINATION ${ZEMA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zemaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zemaConfig.cmake
  INSTALL_DESTINATION ${ZEMA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zemaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zemaConfig.cmake ${PROJECT_BINARY_DIR}/zemaConfigVersion.cmake
  DESTINATION ${ZEMA_INSTALL_CMAKEDIR})

# The .pc files find the prefix from their own place, so that an install moved
# elsewhere (cmake --install --prefix, a staging directory) still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZEMA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  # The way up from <libdir>/pkgconfig to the prefix: one ".." a level
  # ("../.." for lib/pkgconfig).
  string(REGEX REPLACE "[^/]+" ".." ZEMA_PC_UP "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  set(ZEMA_PC_PREFIX "\${pcfiledir}/${ZEMA_PC_UP}")
endif()
foreach(pc zema zema-host)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
