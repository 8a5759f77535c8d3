# The part that the Windows toolchain files without a C runtime share: the two
# for Windows on ARM, and windows-x86_64-freestanding.cmake, the same build
# for x86-64, where Wine runs what the ARM builds only link. They set
# CMAKE_SYSTEM_PROCESSOR and BMPRESIZER_WINDOWS_TARGET (clang's target
# triple) and include it. Not a toolchain file of its own.
#
# clang, lld and llvm-dlltool (Debian: clang, lld, llvm) build for these
# targets, and the MinGW-w64 headers (mingw-w64-common) describe the
# system's API for them; but Debian has no ARM build of a C runtime or a C++
# run-time library for Windows. The DLLs therefore link no run-time library:
# platform/freestanding holds the few pieces of one that they use, and the
# system's DLLs are reached through import libraries made from module
# definitions. The C++ code uses only header-only parts of the C++ library,
# whose headers come from the x86-64 MinGW-w64 compiler
# (g++-mingw-w64-x86-64-posix). The tool bmpresize.exe is C++ on the whole
# standard library and is not built; nor are the tests, which need
# GoogleTest; the libraries are DLLs only (BUILD_SHARED_LIBS stays ON).
# Nothing here runs what is built: a check of the DLLs from outside
# (.ci/windows-arm.sh) stands in for the suites.
set(CMAKE_SYSTEM_NAME Windows)

find_program(BMPRESIZER_CLANG NAMES clang clang-14 REQUIRED)
find_program(BMPRESIZER_CLANGXX NAMES clang++ clang++-14 REQUIRED)
set(CMAKE_C_COMPILER "${BMPRESIZER_CLANG}")
set(CMAKE_CXX_COMPILER "${BMPRESIZER_CLANGXX}")
set(CMAKE_C_COMPILER_TARGET ${BMPRESIZER_WINDOWS_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${BMPRESIZER_WINDOWS_TARGET})
# LLVM's windres, for the version record and the type library; it
# preprocesses with clang.
find_program(BMPRESIZER_LLVM_WINDRES NAMES llvm-windres llvm-windres-14 REQUIRED)
set(CMAKE_RC_COMPILER "${BMPRESIZER_LLVM_WINDRES}")
find_program(BMPRESIZER_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
find_program(BMPRESIZER_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)

# The system's headers from MinGW-w64's architecture-neutral set, after the
# compiler's own (stddef.h, arm_neon.h); none of the build machine's.
set(mingw_headers /usr/share/mingw-w64/include)
if(NOT EXISTS "${mingw_headers}/windows.h")
  message(FATAL_ERROR "No MinGW-w64 headers in ${mingw_headers} (Debian: mingw-w64-common)")
endif()
file(GLOB cxx_header_folders LIST_DIRECTORIES true
  /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++)
list(SORT cxx_header_folders COMPARE NATURAL ORDER DESCENDING)  # the newest compiler's
list(POP_FRONT cxx_header_folders cxx_headers)
if(NOT cxx_headers)
  message(FATAL_ERROR "No C++ library headers of MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix)")
endif()
set(CMAKE_C_FLAGS_INIT "-nostdlibinc -idirafter ${mingw_headers}")
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -isystem ${cxx_headers} \
-isystem ${cxx_headers}/x86_64-w64-mingw32 -idirafter ${mingw_headers}")
set(CMAKE_RC_FLAGS_INIT "--target=${BMPRESIZER_WINDOWS_TARGET} \
--preprocessor-arg=-nostdlibinc -I ${mingw_headers}")

# No run-time library, no start-up files and none of the system's libraries
# by default: lld links what the project brings. (CMake passes the header
# options above to the links too, where they do nothing.) Windows 8 (6.2) is
# the first Windows on ARM; its loader refuses an ARM image that says it is
# for an older one.
set(link_flags "-fuse-ld=lld -nostdlib -Wno-unused-command-line-argument \
-Wl,--major-os-version=6,--minor-os-version=2 \
-Wl,--major-subsystem-version=6,--minor-subsystem-version=2 -Wl,--dynamicbase,--nxcompat")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C binary")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ binary")
# The compiler checks build a static library: a test program would need the
# start-up files that do not exist.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Nothing found in the build machine's own folders but programs.
set(CMAKE_FIND_ROOT_PATH "${mingw_headers}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The project's switch for the run-time pieces (platform/freestanding); and
# what cannot be built without a C++ run-time library.
set(BMPRESIZER_FREESTANDING ON)
set(BMPRESIZER_BUILD_TOOL OFF CACHE BOOL "Build the bmpresize command-line tool")
set(BMPRESIZER_BUILD_TESTS OFF CACHE BOOL "Build the tests")
