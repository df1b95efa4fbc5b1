# Cross-builds bankstitcher for macOS on Apple silicon (arm64) with Zig:
#   PATH=ZIG_DIR:$PATH cmake -S . -B build-macos-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-macos.cmake
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(zig_target aarch64-macos.11.0)
include(${CMAKE_CURRENT_LIST_DIR}/macos-zig.cmake)
