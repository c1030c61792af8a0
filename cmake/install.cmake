# What `cmake --install` puts in place: the library with its versioned names,
# the public header, pkg-config and CMake package files, the tools, their man
# pages, the address server's systemd unit and the licence.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)

set_target_properties(tavolin PROPERTIES VERSION ${TAVOLIN_VERSION} SOVERSION ${TAVOLIN_SOVERSION})
# TavolinVersion (engine/version.cpp) reports it.
target_compile_definitions(tavolin_engine PRIVATE TAVOLIN_VERSION_TEXT="${TAVOLIN_VERSION}")

install(TARGETS tavolin
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/tavolin/tavolin.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavolin COMPONENT development)
install(TARGETS tavolin-addrd tavolin-room tavolin-host-example
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/tavolin-room.1 ${PROJECT_SOURCE_DIR}/docs/man/tavolin-addrd.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/docs/tavolin-addrd.service
  DESTINATION lib/systemd/system COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# The prefix as seen from the .pc file's folder, so that the installed tree
# may be moved (cmake --install --prefix, a package).
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tavolin.pc.in ${PROJECT_BINARY_DIR}/tavolin.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tavolin.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tavolin)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TavolinConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TavolinConfig.cmake
  INSTALL_DESTINATION ${package_dir}
  PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TavolinConfigVersion.cmake
  VERSION ${TAVOLIN_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TavolinConfig.cmake ${PROJECT_BINARY_DIR}/TavolinConfigVersion.cmake
  DESTINATION ${package_dir} COMPONENT development)

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
