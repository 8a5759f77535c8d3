# Cross-builds for 32-bit ARMv7 with hardware floating point (Debian armhf) with Debian's cross
# compiler (g++-arm-linux-gnueabihf) and runs the tests under qemu-user, which
# reads the target's libraries from /usr/arm-linux-gnueabihf:
#   cmake -S . -B build-armhf -G Ninja --toolchain cmake/toolchains/armhf.cmake
#   cmake --build build-armhf && ctest --test-dir build-armhf
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# GCC notes that passing some 64-bit-aligned types changed in GCC 7.1; that
# only matters when linking with code built by GCC 6 or older, and the
# notes drown the build's real warnings.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# Libraries, headers and packages come from the target's tree only (a host
# GoogleTest or pkg-config file would be the wrong architecture); programs
# such as the cross nm run on the host.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest (and GoogleTest's test discovery) start every target program through
# this; the tests that spawn the tool themselves prefix it too.
find_program(BMPRESIZER_QEMU_ARMHF qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${BMPRESIZER_QEMU_ARMHF}" -L /usr/arm-linux-gnueabihf)
