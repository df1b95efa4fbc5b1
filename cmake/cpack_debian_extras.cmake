# Run by cpack once the Debian package's files are staged: adds the lintian
# overrides, which belong to the package and not to a plain install.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
unset(ENV{DESTDIR})  # the destination below is the staging directory itself
file(INSTALL "${CPACK_BANKSTITCHER_LINTIAN_OVERRIDES}"
     DESTINATION "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides"
     RENAME bankstitcher FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
