# cmake --install: the header, librk.so with its soname, rkctl with its
# manual pages and bash completion, a pkg-config file and a CMake package
# (find_package(rk) gives rk::rk).
include(CMakePackageConfigHelpers)

install(TARGETS rk EXPORT rkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS rkctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# rkctl's manual pages, made from its help texts, and its bash completion.
install(DIRECTORY ${PROJECT_BINARY_DIR}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 FILES_MATCHING PATTERN "*.1")
install(FILES tools/rkctl/rkctl.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME rkctl)
install(FILES include/rk.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT rkTargets NAMESPACE rk:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/rk)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/rkConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/rkConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/rk)
# A variant with flags of its own (i386) suits any project, for rk::rk gives
# its clients those flags; the native one only projects of its pointer size.
if(RK_VARIANT_FLAG_LIST)
  set(RK_VERSION_ARCH ARCH_INDEPENDENT)
endif()
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/rkConfigVersion.cmake
  VERSION 7.5.0 COMPATIBILITY SameMajorVersion ${RK_VERSION_ARCH})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rkConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/rkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/rk)

# The prefix is found from where the file lies, so the tree can be moved.
file(RELATIVE_PATH RK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/rk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/rk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
