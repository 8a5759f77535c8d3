# The part of the two MinGW-w64 toolchain files that they share; they set
# CMAKE_SYSTEM_PROCESSOR, BMPRESIZER_MINGW_PREFIX (the compilers' target
# triple) and BMPRESIZER_WINE_NAMES (the Wine loaders that run their
# programs, best first) and include it. Not a toolchain file of its own.
set(CMAKE_SYSTEM_NAME Windows)

# Debian's MinGW-w64 compilers with the POSIX thread model.
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

# CTest (and GoogleTest's test discovery) start every program through Wine
# when it is installed. Building needs no Wine; without it the tests can
# only be built, or run on Windows.
find_program(BMPRESIZER_WINE NAMES ${BMPRESIZER_WINE_NAMES} PATHS /usr/lib/wine)
if(BMPRESIZER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${BMPRESIZER_WINE}")
endif()
