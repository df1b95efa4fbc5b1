# Install layout and packages: a Debian package on Linux, a .zip on Windows.
include(GNUInstallDirs)

if(WIN32)
  # A flat folder: the .exe with its README and LICENSE beside it.
  install(TARGETS bankstitcher RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The man page carries the project's version; Debian installs it, and the
  # changelog, compressed and without time stamps.
  set(man_source ${CMAKE_CURRENT_BINARY_DIR}/bankstitcher.1)
  configure_file(man/bankstitcher.1.in ${man_source} @ONLY)
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/bankstitcher.1.gz)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${man_page}
    COMMAND gzip -9nc ${man_source} > ${man_page}
    DEPENDS ${man_source} VERBATIM)
  add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog > ${changelog}
    DEPENDS packaging/changelog VERBATIM)
  add_custom_target(package_docs ALL DEPENDS ${man_page} ${changelog})

  install(TARGETS bankstitcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The copyright file holds the license text, in Debian's machine-readable form.
  install(FILES README.md packaging/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME bankstitcher)
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME bankstitcher)
set(CPACK_PACKAGE_VENDOR "The bankstitcher developers")
set(CPACK_PACKAGE_CONTACT "The bankstitcher developers <maintainers@bankstitcher.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "bankstitcher builds a cartridge image for a home computer whose cartridge\n\
board switches 8 KiB banks. Bank 0 is the program file; each data file\n\
follows in banks that begin with the program's 128-byte startup header, and\n\
the image is padded to a power-of-two size for EPROMs and flash cartridges.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the libc version the binary needs
set(CPACK_STRIP_FILES ON)

include(CPack)
