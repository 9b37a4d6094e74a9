# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staged files of the Debian
# package, before they are packed: the files Debian asks of every package
# that `cmake --install` has no use for. The manual page is compressed, and
# the copyright file (the project's LICENSE) and the changelog go to
# /usr/share/doc/vexlo, the changelog compressed. gzip -n leaves out the
# name and time, so the package does not change with the build time.

set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT EXISTS "${staged}/bin/vexlo")
  message(FATAL_ERROR "staged package files not found below ${staged}")
endif()

function(compress path)
  execute_process(COMMAND gzip -9nf "${path}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${path}")
  endif()
endfunction()

compress("${staged}/share/man/man1/vexlo.1")

set(doc "${staged}/share/doc/vexlo")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_VEXLO_SOURCE_DIR}/LICENSE" "${doc}/copyright")
file(COPY_FILE "${CPACK_VEXLO_SOURCE_DIR}/cmake/package/changelog" "${doc}/changelog")
compress("${doc}/changelog")
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz" "${staged}/share/man/man1/vexlo.1.gz"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(CHMOD "${doc}" "${staged}/share/doc"
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
