# Cross-builds bankstitcher for macOS on Intel (x86-64) with Zig:
#   PATH=ZIG_DIR:$PATH cmake -S . -B build-macos-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-macos.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(zig_target x86_64-macos.11.0)
include(${CMAKE_CURRENT_LIST_DIR}/macos-zig.cmake)
