# The Debian package, built with `cpack -G DEB` from the build directory.
# Runtime dependencies come from dpkg-shlibdeps (package dpkg-dev), which
# reads the shared libraries the binary really links.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexlo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vexlo developers")
set(CPACK_PACKAGE_CONTACT "vexlo developers <vexlo-devel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "list and show the log files of the orvane-rivura event logger")
set(CPACK_PACKAGE_DESCRIPTION
  "vexlo lists the JSON log files that the event-logging daemon orvane-rivura
keeps below its log directory, newest first, filtered by path and time, and
prints any of them as flat text or indented JSON. Each log file gets a
stable numeric ID, kept in a small database inside the log directory.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The copyright file, the changelog and the compressed manual page, which
# only the package holds. cpack reads the configuration's variables, so the
# script learns the source tree from one of its own.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package/DebianFiles.cmake)
set(CPACK_VEXLO_SOURCE_DIR ${PROJECT_SOURCE_DIR})

include(CPack)

if(BUILD_TESTING)
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingTests.cmake)
endif()
