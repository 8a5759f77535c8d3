# Cross-builds for 64-bit ARMv8 (Debian arm64) with Debian's cross
# compiler (g++-aarch64-linux-gnu) and runs the tests under qemu-user, which
# reads the target's libraries from /usr/aarch64-linux-gnu:
#   cmake -S . -B build-aarch64 -G Ninja --toolchain cmake/toolchains/aarch64.cmake
#   cmake --build build-aarch64 && ctest --test-dir build-aarch64
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries, headers and packages come from the target's tree only (a host
# GoogleTest or pkg-config file would be the wrong architecture); programs
# such as the cross nm run on the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest (and GoogleTest's test discovery) start every target program through
# this; the tests that spawn the tool themselves prefix it too.
find_program(BMPRESIZER_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${BMPRESIZER_QEMU_AARCH64}" -L /usr/aarch64-linux-gnu)
