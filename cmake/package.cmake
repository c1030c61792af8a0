# `cpack -G DEB`: one Debian package with the library, header, tools and
# documents. Library dependencies come from dpkg-shlibdeps; the GStreamer
# plugin sets are loaded at run time, so they are named here.
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
set(CPACK_PACKAGE_NAME tavolin)
set(CPACK_PACKAGE_VERSION ${TAVOLIN_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavolin")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time video and voice chat engine for game rooms")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tavolin developers <tavolin@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad")
include(CPack)
