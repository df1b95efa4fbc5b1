# The Debian architecture of the machine the tool is built for, never that of
# the build machine: dpkg's own answer for a native build on Debian (right
# also for a 32-bit system on a 64-bit kernel, as on a Raspberry Pi), else the
# processor looked up in a table. Empty, with one status line, where none is
# known (a processor the table lacks, or a system other than Linux): the tool
# is built all the same, with no Debian package.
function(debian_architecture result)
  set(architecture "")
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" processor)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    find_program(BANKSTITCHER_DPKG dpkg)
    if(BANKSTITCHER_DPKG AND NOT CMAKE_CROSSCOMPILING AND
       CMAKE_SYSTEM_PROCESSOR STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
      execute_process(COMMAND ${BANKSTITCHER_DPKG} --print-architecture OUTPUT_VARIABLE architecture
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    elseif(processor MATCHES "^(x86_64|amd64)$")
      set(architecture amd64)
    elseif(processor MATCHES "^(aarch64|arm64)$")
      set(architecture arm64)
    elseif(processor MATCHES "^(armv[4-7].*|arm|armel|armhf)$")
      # The C library's ABI tells the two: armel's soft-float "gnueabi".
      if(CMAKE_LIBRARY_ARCHITECTURE MATCHES "eabi$" OR processor STREQUAL "armel")
        set(architecture armel)
      else()
        set(architecture armhf)
      endif()
    elseif(processor MATCHES "^i[3-6]86$")
      set(architecture i386)
    elseif(processor MATCHES "^(ppc64le|powerpc64le|ppc64el)$")
      set(architecture ppc64el)
    elseif(processor MATCHES "^(mips64el|mipsel|riscv64|s390x|loong64)$")
      set(architecture ${processor})
    elseif(processor MATCHES "^(mips64|mips)$" AND CMAKE_LIBRARY_ARCHITECTURE MATCHES "^mips(64)?el-")
      set(architecture ${processor}el)  # a little-endian MIPS names itself without "el"
    endif()
  endif()
  if(NOT architecture)
    message(STATUS "No Debian package: this build's table names no Debian architecture for ${CMAKE_SYSTEM_NAME} on ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(${result} "${architecture}" PARENT_SCOPE)
endfunction()
