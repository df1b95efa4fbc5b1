# Cross-builds bankstitcher for 32-bit Arm Linux with hardware floating point,
# as the Raspberry Pi's 32-bit OS runs it (package g++-arm-linux-gnueabihf):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(cross_triplet arm-linux-gnueabihf)
set(cross_emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
