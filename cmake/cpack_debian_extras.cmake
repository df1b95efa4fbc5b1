# Run by cpack once a package's files are staged; for the Debian package, adds
# the lintian overrides, which belong to it and not to a plain install or the
# .tar.gz, and works out a cross-built package's dependencies.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
unset(ENV{DESTDIR})  # the destination below is the staging directory itself
file(INSTALL "${CPACK_BANKSTITCHER_LINTIAN_OVERRIDES}"
     DESTINATION "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides"
     RENAME bankstitcher FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# A cross-built Debian package depends on the target's libraries, as
# dpkg-shlibdeps finds them among the cross libraries; it names them as the
# cross packages do (libc6:arm64, libgcc-s1-arm64-cross), and the package
# for that architecture names them plainly.
if(CPACK_BANKSTITCHER_CROSS_LIBRARIES)
  set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
  file(MAKE_DIRECTORY "${work}/debian")
  file(WRITE "${work}/debian/control" "")
  execute_process(COMMAND env "LD_LIBRARY_PATH=${CPACK_BANKSTITCHER_CROSS_LIBRARIES}"
                          dpkg-shlibdeps -O "-e${CPACK_BANKSTITCHER_BINARY}"
                  WORKING_DIRECTORY "${work}" OUTPUT_VARIABLE substvars ERROR_VARIABLE complaints
                  RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT substvars MATCHES "shlibs:Depends=(.+)")
    message(FATAL_ERROR "dpkg-shlibdeps found no dependencies for the cross-built binary:\n${complaints}")
  endif()
  set(depends "${CMAKE_MATCH_1}")
  string(REPLACE ":${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}" "" depends "${depends}")
  string(REPLACE "-${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}-cross" "" CPACK_DEBIAN_PACKAGE_DEPENDS
         "${depends}")
endif()
