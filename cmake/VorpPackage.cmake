# The kernel libraries as packages other programs can use:
#   find_package(Vorp CONFIG COMPONENTS Tavrel_8x4 Tavrel)  -> Vorp::Tavrel_8x4, Vorp::Tavrel
#   pkg-config --cflags --libs Tavrel_8x4 Tavrel
include(CMakePackageConfigHelpers)

set(VORP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vorp)
set(VORP_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# vorp_install_kernel_library(<target> <public headers> <description>): the
# library, its headers (a list), its exported targets (one file per
# component) and its pkg-config file. The .pc file finds its prefix from its own place, so an
# install to another prefix (cmake --install --prefix) stays right.
function(vorp_install_kernel_library target header description)
  install(TARGETS ${target} EXPORT Vorp${target}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT Vorp${target}Targets NAMESPACE Vorp:: DESTINATION ${VORP_CMAKE_DIR})
  file(RELATIVE_PATH PC_TO_PREFIX "/prefix/${VORP_PKGCONFIG_DIR}" "/prefix")
  set(PC_NAME ${target})
  set(PC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kernel-library.pc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${target}.pc DESTINATION ${VORP_PKGCONFIG_DIR})
endfunction()

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VorpConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VorpConfig.cmake INSTALL_DESTINATION ${VORP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VorpConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VorpConfig.cmake ${PROJECT_BINARY_DIR}/VorpConfigVersion.cmake
  DESTINATION ${VORP_CMAKE_DIR})
