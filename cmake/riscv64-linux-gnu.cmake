# Cross-builds bankstitcher for 64-bit RISC-V Linux (package g++-riscv64-linux-gnu):
#   cmake -S . -B build-riscv64 -DCMAKE_TOOLCHAIN_FILE=cmake/riscv64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(cross_triplet riscv64-linux-gnu)
set(cross_emulator qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
