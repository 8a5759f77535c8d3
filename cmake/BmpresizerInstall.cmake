# Installs the library, its header, the tool, the manual page, a CMake
# package (find_package(bmpresizer) gives bmpresizer::bmpresizer), a
# pkg-config file and the Python package, following GNUInstallDirs. Every
# rule belongs to one of four components, which are also the Debian packages:
#   runtime      the shared library and the framework stand-in it loads
#   development  the header, the link-time files, the CMake package and the
#                pkg-config file
#   tool         the bmpresize program and its manual page
#   python       the Python package bmpresizer (python/bmpresizer)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BMPRESIZER_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/bmpresizer")
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

install(EXPORT bmpresizerTargets
  NAMESPACE bmpresizer::
  DESTINATION "${BMPRESIZER_CMAKE_DIR}" COMPONENT development)
configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/bmpresizerConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/bmpresizerConfig.cmake"
  INSTALL_DESTINATION "${BMPRESIZER_CMAKE_DIR}")
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/bmpresizerConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/bmpresizerConfig.cmake"
  "${PROJECT_BINARY_DIR}/bmpresizerConfigVersion.cmake"
  DESTINATION "${BMPRESIZER_CMAKE_DIR}" COMPONENT development)

# The pkg-config file finds the prefix from its own place, so the installed
# tree can be moved.
file(RELATIVE_PATH BMPRESIZER_PC_TO_PREFIX
  "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" BMPRESIZER_PC_TO_PREFIX "${BMPRESIZER_PC_TO_PREFIX}")
# What a program linking the static library needs besides it (the threads
# library where pthread_sigmask is not in the C library). A static-only
# install puts it in Libs as well, so that a plain `pkg-config --libs` links.
set(BMPRESIZER_PC_PRIVATE_LIBS "")
if(NOT WIN32)
  find_package(Threads REQUIRED)
endif()
if(CMAKE_THREAD_LIBS_INIT)
  set(BMPRESIZER_PC_PRIVATE_LIBS " ${CMAKE_THREAD_LIBS_INIT}")
endif()
set(BMPRESIZER_PC_STATIC_LIBS "")
if(NOT BUILD_SHARED_LIBS)
  set(BMPRESIZER_PC_STATIC_LIBS "${BMPRESIZER_PC_PRIVATE_LIBS}")
endif()
configure_file("${PROJECT_SOURCE_DIR}/cmake/bmpresizer.pc.in"
  "${PROJECT_BINARY_DIR}/bmpresizer.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/bmpresizer.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT development)

# The Python package, which loads the shared library through ctypes (none
# for a static library). On Windows it goes to bin/, beside BMPResizer.dll,
# where it looks for the DLL; elsewhere to the folder where the prefix's
# Python reads packages (python_site_dir.py: /usr/lib/python3/dist-packages
# for Debian's /usr), unless BMPRESIZER_INSTALL_PYTHONDIR names one.
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
      COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
  endif()
  set(BMPRESIZER_PYTHON_DIR "${python_dir}")
endif()

# A Windows archive is read by people, not a package manager: its own README
# (what is in it, how to call the DLL from C and Python, how to run the
# tool), with Windows line ends, and the licence go at its top.
if(WIN32)
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/README.txt"
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
