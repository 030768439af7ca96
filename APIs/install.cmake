# Installs the library the Debian way: the versioned shared object in the
# runtime package, and what a program needs to build against it (the header,
# the unversioned link, a pkg-config file and a CMake package giving
# NettlebeamAPI::NettlebeamAPI) in the development package.
include(CMakePackageConfigHelpers)

set_target_properties(NettlebeamAPI PROPERTIES PUBLIC_HEADER include/NettlebeamAPI.h)
install(TARGETS NettlebeamAPI EXPORT NettlebeamAPITargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT libnettlebeamapi2
          NAMELINK_COMPONENT libnettlebeamapi-dev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libnettlebeamapi-dev)

set(NETTLEBEAM_API_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/NettlebeamAPI)
install(EXPORT NettlebeamAPITargets NAMESPACE NettlebeamAPI::
        DESTINATION ${NETTLEBEAM_API_CMAKE_DIR} COMPONENT libnettlebeamapi-dev)
configure_package_config_file(package/NettlebeamAPIConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/NettlebeamAPIConfig.cmake
  INSTALL_DESTINATION ${NETTLEBEAM_API_CMAKE_DIR})
# The soname carries the interface: a program built against 2.x runs with any
# later 2.x.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/NettlebeamAPIConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/NettlebeamAPIConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/NettlebeamAPIConfigVersion.cmake
        DESTINATION ${NETTLEBEAM_API_CMAKE_DIR} COMPONENT libnettlebeamapi-dev)

# Paths in the pkg-config file are relative to ${prefix}, so a tree unpacked
# elsewhere is used through PKG_CONFIG_SYSROOT_DIR.
configure_file(package/nettlebeamapi.pc.in ${CMAKE_CURRENT_BINARY_DIR}/nettlebeamapi.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nettlebeamapi.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libnettlebeamapi-dev)
