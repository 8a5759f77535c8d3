# Builds the engine for the browser (web/bmpresize.wasm) with clang's
# wasm32-wasi target and Debian's wasi-libc, libclang-rt-14-dev-wasm32 and
# libc++-14-dev-wasm32 (headers; nothing of it is linked):
#   cmake -S . -B build-wasm -G Ninja --toolchain cmake/toolchains/wasm32-wasi.cmake
#   cmake --build build-wasm
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_VERSION 1)
set(CMAKE_SYSTEM_PROCESSOR wasm32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)
# wasi-libc's headers and libraries sit in Debian's multiarch folders.
set(CMAKE_C_FLAGS_INIT "-isystem /usr/include/wasm32-wasi")
set(CMAKE_CXX_FLAGS_INIT
    "-isystem /usr/lib/llvm-14/include/wasm32-wasi/c++/v1 -isystem /usr/include/wasm32-wasi")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L/usr/lib/wasm32-wasi")

# CMake's description of the system (Platform/WASI.cmake beside this file).
list(APPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}")
# A module, not a program: the compiler checks link nothing.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# WebAssembly has no shared libraries.
set(BUILD_SHARED_LIBS OFF CACHE BOOL "Build the library as a shared library")
