# Cross-builds bankstitcher for macOS 11 or later with Zig's C++ compiler,
# which ships the macOS headers and links Mach-O (see cmake/zig-c++); the
# processor's own toolchain file sets CMAKE_SYSTEM_PROCESSOR and `zig_target`,
# then includes this file. Nothing here can run the result.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-c++)
# Zig compiles an unoptimised build (CMake's own checks) with the undefined
# behaviour sanitizer, whose x86-64 checks need the C++ runtime.
set(CMAKE_CXX_FLAGS_INIT "-target ${zig_target} -fno-sanitize=all")
