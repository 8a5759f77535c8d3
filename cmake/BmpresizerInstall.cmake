# Installs the library, its header, the tool, the manual page, a CMake
# package (find_package(bmpresizer) gives bmpresizer::bmpresizer) and a
# pkg-config file, following GNUInstallDirs.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BMPRESIZER_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/bmpresizer")

install(TARGETS bmpresizer EXPORT bmpresizerTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The application framework's stand-in, which the library registers with
# when loaded, beside it; the library finds it there from wherever it is.
if(TARGET app_framework)
  install(TARGETS app_framework
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()
if(NOT WIN32)
  set_target_properties(bmpresizer PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(FILES "${PROJECT_BINARY_DIR}/include/bmpresizer.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
if(TARGET bmpresize)
  install(TARGETS bmpresize RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()
if(TARGET bmpresize)
  install(FILES "${PROJECT_BINARY_DIR}/doc/bmpresize.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endif()

install(EXPORT bmpresizerTargets
  NAMESPACE bmpresizer::
  DESTINATION "${BMPRESIZER_CMAKE_DIR}")
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
  DESTINATION "${BMPRESIZER_CMAKE_DIR}")

# The pkg-config file finds the prefix from its own place, so the installed
# tree can be moved.
file(RELATIVE_PATH BMPRESIZER_PC_TO_PREFIX
  "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" BMPRESIZER_PC_TO_PREFIX "${BMPRESIZER_PC_TO_PREFIX}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/bmpresizer.pc.in"
  "${PROJECT_BINARY_DIR}/bmpresizer.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/bmpresizer.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
