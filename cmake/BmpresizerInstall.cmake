# Installs the two libraries, their headers, the tool, the manual page, CMake
# packages, pkg-config files and the Python package, following
# GNUInstallDirs. Every rule belongs to one of six components, which are
# also the Debian packages:
#   runtime             the module: the shared library and the framework
#                       stand-in it loads
#   development         the module's header, link-time files, CMake package
#                       (find_package(bmpresizer) gives bmpresizer::bmpresizer,
#                       and bmpresizer::bmpresize where the engine's is
#                       installed too) and pkg-config file bmpresizer
#   engine_runtime      the engine, the library behind the tool: its shared
#                       library
#   engine_development  its header bmpresize.h, link-time files, CMake
#                       package (find_package(bmpresize) gives
#                       bmpresizer::bmpresize) and pkg-config file bmpresize
#   tool                the bmpresize program and its manual page
#   python              the Python package bmpresizer (python/bmpresizer)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The library's private folder on ELF systems: the framework stand-in's
# generic, unversioned name has no place in a folder the loader searches.
set(BMPRESIZER_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/bmpresizer")

install(TARGETS bmpresizer EXPORT bmpresizerTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime
    NAMELINK_COMPONENT development
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
# The application framework's stand-in, which the library registers with
# when loaded. Consumers never link it, so it is not part of the CMake
# package, and on Windows its import library is not installed (with a
# RUNTIME destination alone, install() leaves the ARCHIVE out).
if(TARGET app_framework)
  install(TARGETS app_framework
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime
    LIBRARY DESTINATION "${BMPRESIZER_PRIVATE_LIBDIR}" COMPONENT runtime)
  if(NOT WIN32)
    # Found from wherever the installed tree is, without the loader's path.
    # (Windows finds a DLL's DLLs beside it, in bin/.)
    set_target_properties(bmpresizer PROPERTIES INSTALL_RPATH "$ORIGIN/bmpresizer")
  endif()
endif()
install(FILES "${PROJECT_BINARY_DIR}/include/bmpresizer.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT development)
if(WIN32 AND BUILD_SHARED_LIBS)
  # The module definition that pins the DLL's one export, for toolchains
  # that make their own import library from it.
  install(FILES "${PROJECT_SOURCE_DIR}/src/module/bmpresizer.def"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
  # The import library for Microsoft's linker, where llvm-dlltool made one.
  get_target_property(msvc_import_library bmpresizer MSVC_IMPORT_LIBRARY)
  if(msvc_import_library)
    install(FILES "${msvc_import_library}" DESTINATION "${CMAKE_INSTALL_LIBDIR}"
      COMPONENT development)
  endif()
endif()

# The engine, in a package of its own: a program that uses it needs neither
# the module nor the framework stand-in. Nothing beside it to find at run
# time, so no run path.
install(TARGETS bmpresize_engine EXPORT bmpresizeTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT engine_runtime
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT engine_runtime
    NAMELINK_COMPONENT engine_development
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT engine_development)
install(FILES "${PROJECT_BINARY_DIR}/include/bmpresize.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT engine_development)
if(WIN32 AND BUILD_SHARED_LIBS)
  install(FILES "${PROJECT_SOURCE_DIR}/src/resize/engine/bmpresize.def"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT engine_development)
  get_target_property(msvc_import_library bmpresize_engine MSVC_IMPORT_LIBRARY)
  if(msvc_import_library)
    install(FILES "${msvc_import_library}" DESTINATION "${CMAKE_INSTALL_LIBDIR}"
      COMPONENT engine_development)
  endif()
endif()

if(TARGET bmpresize)
  install(TARGETS bmpresize RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tool)
  if(NOT WIN32)
    set(man_page "${PROJECT_BINARY_DIR}/doc/bmpresize.1")
    find_program(BMPRESIZER_GZIP gzip)
    if(BMPRESIZER_GZIP)
      # Compressed as distributions ship manual pages: at the highest level,
      # without a name or time stamp, so that the same page gives the same
      # bytes.
      add_custom_command(OUTPUT "${man_page}.gz"
        COMMAND "${BMPRESIZER_GZIP}" -9nkf "${man_page}"
        DEPENDS "${man_page}"
        COMMENT "Compressing the manual page" VERBATIM)
      add_custom_target(bmpresize_manual_page ALL DEPENDS "${man_page}.gz")
      set(man_page "${man_page}.gz")
    endif()
    install(FILES "${man_page}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT tool)
  endif()
endif()

# Each library's development files: a CMake package and a pkg-config file
# (bmpresizer.pc.in for both), bmpresizer for the module (its config also
# loads the engine's package where that is installed beside it) and
# bmpresize for the engine alone. Both packages name their targets
# bmpresizer::. The pkg-config files find the prefix from their own place,
# so the installed tree can be moved.
file(RELATIVE_PATH BMPRESIZER_PC_TO_PREFIX
  "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" BMPRESIZER_PC_TO_PREFIX "${BMPRESIZER_PC_TO_PREFIX}")
# What a program linking a static library needs besides it (the threads
# library where pthread_sigmask is not in the C library). A static-only
# install puts it in Libs as well, so that a plain `pkg-config --libs` links.
if(NOT WIN32)
  find_package(Threads REQUIRED)
endif()
set(PC_PRIVATE_LIBS "")
if(CMAKE_THREAD_LIBS_INIT)
  set(PC_PRIVATE_LIBS " ${CMAKE_THREAD_LIBS_INIT}")
endif()
set(PC_STATIC_LIBS "")
if(NOT BUILD_SHARED_LIBS)
  set(PC_STATIC_LIBS "${PC_PRIVATE_LIBS}")
endif()
foreach(PC_NAME IN ITEMS bmpresizer bmpresize)
  set(dir "${CMAKE_INSTALL_LIBDIR}/cmake/${PC_NAME}")
  if(PC_NAME STREQUAL "bmpresizer")
    set(component development)
    set(PC_DESCRIPTION "${PROJECT_DESCRIPTION}")
  else()
    set(component engine_development)
    set(PC_DESCRIPTION "the library behind the bmpresize tool")
  endif()
  install(EXPORT ${PC_NAME}Targets
    NAMESPACE bmpresizer::
    DESTINATION "${dir}" COMPONENT ${component})
  configure_package_config_file(
    "${PROJECT_SOURCE_DIR}/cmake/${PC_NAME}Config.cmake.in"
    "${PROJECT_BINARY_DIR}/${PC_NAME}Config.cmake"
    INSTALL_DESTINATION "${dir}")
  write_basic_package_version_file(
    "${PROJECT_BINARY_DIR}/${PC_NAME}ConfigVersion.cmake"
    VERSION "${PROJECT_VERSION}"
    COMPATIBILITY SameMajorVersion)
  install(FILES
    "${PROJECT_BINARY_DIR}/${PC_NAME}Config.cmake"
    "${PROJECT_BINARY_DIR}/${PC_NAME}ConfigVersion.cmake"
    DESTINATION "${dir}" COMPONENT ${component})
  configure_file("${PROJECT_SOURCE_DIR}/cmake/bmpresizer.pc.in"
    "${PROJECT_BINARY_DIR}/${PC_NAME}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${PC_NAME}.pc"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT ${component})
endforeach()

# The Python package, which loads the engine's shared library through
# ctypes (none for a static library). On Windows it goes to bin/, beside
# libbmpresize.dll, where it looks for the DLL; elsewhere to the folder
# where the prefix's Python reads packages (python_site_dir.py:
# /usr/lib/python3/dist-packages for Debian's /usr), unless
# BMPRESIZER_INSTALL_PYTHONDIR names one.
set(BMPRESIZER_INSTALL_PYTHONDIR "" CACHE STRING
  "Where the Python package goes, relative to the prefix (empty: the prefix's Python's own folder)")
if(BUILD_SHARED_LIBS)
  set(python_dir "${BMPRESIZER_INSTALL_PYTHONDIR}")
  if(NOT python_dir AND WIN32)
    set(python_dir "${CMAKE_INSTALL_BINDIR}")
  elseif(NOT python_dir)
    # The prefix's own interpreter first, then the system's, then any.
    find_program(BMPRESIZER_INSTALL_PYTHON NAMES python3
      PATHS "${CMAKE_INSTALL_PREFIX}/bin" /usr/bin NO_DEFAULT_PATH)
    find_program(BMPRESIZER_INSTALL_PYTHON NAMES python3)
    if(BMPRESIZER_INSTALL_PYTHON)
      execute_process(COMMAND "${BMPRESIZER_INSTALL_PYTHON}"
          "${PROJECT_SOURCE_DIR}/cmake/python_site_dir.py" "${CMAKE_INSTALL_PREFIX}"
        OUTPUT_VARIABLE python_dir RESULT_VARIABLE python_failed)
      if(python_failed)
        set(python_dir "")
      endif()
    endif()
    if(NOT python_dir)
      message(STATUS "No Python 3 to ask where its packages go: the Python package is not "
                     "installed (set BMPRESIZER_INSTALL_PYTHONDIR to install it)")
    endif()
  endif()
  if(python_dir)
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/python/bmpresizer" DESTINATION "${python_dir}"
      COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "py.typed"
      PATTERN "__pycache__" EXCLUDE)
  endif()
  set(BMPRESIZER_PYTHON_DIR "${python_dir}")
endif()

# A Windows archive is read by people, not a package manager: its own README
# (what is in it, how to call the DLL from C and Python, how to run the
# tool), with Windows line ends, and the licence go at its top. The ARM
# builds' archives (no tool, and checked from outside only) have their own.
if(WIN32)
  set(readme README.txt)
  if(BMPRESIZER_FREESTANDING)
    set(readme README-arm.txt)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
      set(BMPRESIZER_ARM_NAME "ARM64 (64-bit ARM)")
    else()
      set(BMPRESIZER_ARM_NAME "ARMv7 (32-bit ARM, Thumb-2)")
    endif()
  endif()
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/${readme}"
    "${PROJECT_BINARY_DIR}/packaging/README.txt" @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${PROJECT_BINARY_DIR}/packaging/README.txt" DESTINATION . COMPONENT runtime)
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt
    COMPONENT runtime)
endif()

# `cmake --build build --target uninstall` undoes the last install.
if(NOT TARGET uninstall)
  add_custom_target(uninstall
    COMMAND "${CMAKE_COMMAND}" -DBMPRESIZER_MANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
            -P "${PROJECT_SOURCE_DIR}/cmake/BmpresizerUninstall.cmake"
    COMMENT "Removing what cmake --install put in place" VERBATIM)
endif()
