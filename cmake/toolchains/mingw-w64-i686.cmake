# Cross-builds the Windows DLL for 32-bit x86 with MinGW-w64 (Debian's
# g++-mingw-w64-i686-posix) and runs the tests under 32-bit Wine (wine32):
#   cmake -S . -B build-win-i686 -G Ninja --toolchain cmake/toolchains/mingw-w64-i686.cmake
#   cmake --build build-win-i686
#   .ci/windows.sh i686 (builds too, and starts Wine around ctest)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BMPRESIZER_MINGW_PREFIX i686-w64-mingw32)
set(BMPRESIZER_WINE_NAMES wine)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
