# Cross-builds the Windows DLL (x86-64) with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix, the POSIX thread model) and runs the tests
# under 64-bit Wine:
#   cmake -S . -B build-win -G Ninja --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
#   cmake --build build-win && .ci/windows.sh (starts Wine around ctest)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BMPRESIZER_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BMPRESIZER_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BMPRESIZER_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BMPRESIZER_MINGW_PREFIX}-windres)
find_program(BMPRESIZER_WIDL ${BMPRESIZER_MINGW_PREFIX}-widl REQUIRED)

# The GCC, C++ and winpthreads run-time libraries are linked in, so the
# binaries need nothing beside them but the system's DLLs and ours.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Libraries and headers from the MinGW tree only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${BMPRESIZER_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest (and GoogleTest's test discovery) start every program through Wine.
find_program(BMPRESIZER_WINE64 NAMES wine64 PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${BMPRESIZER_WINE64}")
