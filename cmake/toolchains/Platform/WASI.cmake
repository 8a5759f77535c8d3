# WASI, which CMake has no platform file for (wasm32-wasi.cmake points here):
# static libraries, and programs that are WebAssembly modules.
set(WASI 1)
set(CMAKE_EXECUTABLE_SUFFIX ".wasm")
set_property(GLOBAL PROPERTY TARGET_SUPPORTS_SHARED_LIBS FALSE)
