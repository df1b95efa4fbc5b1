# Install layout and packages: a Debian package on Linux, a .zip on Windows.
# Packages are reproducible: the same commit gives the same bytes whatever the
# build directory, time, time zone, umask or locale (see cmake/cpack_*.cmake).
include(GNUInstallDirs)

# Directories the install creates are 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" target_processor)
if(WIN32)
  # A flat folder: the .exe with its README and LICENSE beside it.
  install(TARGETS bankstitcher RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  if(target_processor STREQUAL "amd64")
    set(target_processor x86_64)
  endif()
  set(CPACK_SYSTEM_NAME windows-${target_processor})
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
  include(cmake/debian_architecture.cmake)
  debian_architecture(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
endif()
# Package names say the system and processor: bankstitcher-VERSION-linux-arm64.tar.gz.
if(NOT WIN32)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" target_system)
  string(REPLACE "darwin" "macos" target_system "${target_system}")
  set(target_processor_name ${target_processor})
  if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    set(target_processor_name ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
  endif()
  set(CPACK_SYSTEM_NAME ${target_system}-${target_processor_name})
  set(CPACK_GENERATOR TGZ)
endif()
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  # The .tar.gz, for every other Linux, holds the same files as the .deb.
  set(CPACK_GENERATOR DEB TGZ)
  if(BANKSTITCHER_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)  # it needs no library at all
  elseif(CMAKE_CROSSCOMPILING)
    # dpkg-shlibdeps looks in the build machine's libraries; the packaging
    # script asks it about the cross libraries instead.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_BANKSTITCHER_CROSS_LIBRARIES ${CMAKE_FIND_ROOT_PATH}/lib)
    set(CPACK_BANKSTITCHER_BINARY ${CMAKE_CURRENT_BINARY_DIR}/bankstitcher)
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the libc version the binary needs
  endif()
  # The lintian override goes into the package alone, not into a plain install.
  set(CPACK_BANKSTITCHER_LINTIAN_OVERRIDES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/lintian-overrides)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_debian_extras.cmake)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_debian_modes.cmake)
endif()

# Run by cpack for every package: the time stamp from the commit, UTC.
set(CPACK_BANKSTITCHER_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_reproducible.cmake)

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
# The build's strip is GNU's, which knows ELF and PE; Apple's and LLVM's
# strip refuse what a Mach-O link already left out (-Wl,-S).
if(NOT CMAKE_EXECUTABLE_FORMAT STREQUAL "MACHO")
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)
