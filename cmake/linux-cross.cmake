# Cross-builds bankstitcher for another Linux processor with Debian's cross
# compiler for `cross_triplet`; the processor's own toolchain file sets it and
# CMAKE_SYSTEM_PROCESSOR, then includes this file. qemu-user (package
# qemu-user) runs the result.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${cross_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${cross_emulator} -L /usr/${cross_triplet})
