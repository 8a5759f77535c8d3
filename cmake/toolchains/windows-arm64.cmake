# Cross-builds the Windows DLLs for 64-bit ARM (ARM64, machine 0xAA64) with
# clang and lld, without a C run-time library (windows-freestanding-common.cmake):
#   cmake -S . -B build-win-arm64 -G Ninja --toolchain cmake/toolchains/windows-arm64.cmake
#   cmake --build build-win-arm64
#   .ci/windows-arm.sh (builds both ARM targets and checks their DLLs)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(BMPRESIZER_WINDOWS_TARGET aarch64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/windows-freestanding-common.cmake")
