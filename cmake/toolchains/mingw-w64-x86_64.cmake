# Cross-builds the Windows DLL for x86-64 with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix) and runs the tests under 64-bit Wine:
#   cmake -S . -B build-win-x86_64 -G Ninja --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
#   cmake --build build-win-x86_64
#   .ci/windows.sh x86_64 (builds too, and starts Wine around ctest)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BMPRESIZER_MINGW_PREFIX x86_64-w64-mingw32)
set(BMPRESIZER_WINE_NAMES wine64 wine)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
