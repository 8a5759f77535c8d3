# Cross-builds the Windows DLLs for 32-bit ARMv7 (Thumb-2, machine 0x1C4)
# with clang and lld, without a C run-time library (windows-freestanding-common.cmake):
#   cmake -S . -B build-win-armv7 -G Ninja --toolchain cmake/toolchains/windows-armv7.cmake
#   cmake --build build-win-armv7
#   .ci/windows-arm.sh (builds both ARM targets and checks their DLLs)
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(BMPRESIZER_WINDOWS_TARGET armv7-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/windows-freestanding-common.cmake")
