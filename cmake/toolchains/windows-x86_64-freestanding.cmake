# Builds for x86-64 Windows as the Windows-on-ARM toolchain files build for
# ARM: clang and lld, without a C run-time library, the DLLs on the run-time
# stand-ins of platform/freestanding. Not a way to ship anything (the
# MinGW-w64 build, mingw-w64-x86_64.cmake, is): it lets Wine load and run
# the stand-ins that the ARM builds can only link (.ci/windows-arm.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BMPRESIZER_WINDOWS_TARGET x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/windows-freestanding-common.cmake")
