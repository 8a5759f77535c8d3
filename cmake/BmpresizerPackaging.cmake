# Packages made by CPack from the install rules (BmpresizerInstall.cmake):
#   cpack -G DEB   (Linux) six Debian packages, one per install component:
#                  libbmpresizer1 (runtime), libbmpresizer-dev (development),
#                  libbmpresize1 (engine_runtime), libbmpresize-dev
#                  (engine_development), bmpresize (tool) and
#                  python3-bmpresizer (python), in build/packages/
#   cpack -G ZIP   (a Windows build) one archive of everything,
#                  bmpresizer-VERSION-windows-PROCESSOR.zip
# Configure a Debian build with -DCMAKE_INSTALL_PREFIX=/usr, so that the
# libraries go to the multiarch folder (scripts/test-packages.sh does).
set(BMPRESIZER_PACKAGE_MAINTAINER
  "bmpresizer maintainers <maintainers@users.noreply.c-seed-d66591b8.example>"
  CACHE STRING "Maintainer of the packages, \"Name <address>\"")

set(CPACK_PACKAGE_NAME bmpresizer)
# All four parts: CPack's default has three.
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The bmpresizer authors")
set(CPACK_PACKAGE_CONTACT "${BMPRESIZER_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # CPack would call every MinGW build "win32"; the processor tells the
  # archives apart.
  string(TOLOWER "windows-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
endif()

# Debian: one package per component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE bmpresizer)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BMPRESIZER_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Each package's description starts with a synopsis of its own; CPack would
# put one shared summary in front of all of them.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")

set(about_resizing
  "bmpresizer enlarges 24-bit uncompressed BMP images by a whole-number factor:
every pixel is repeated across its row and every row down the image, so the
result is exact. The work streams from file to file through one fixed
buffer, whatever the size of the image.")
set(about_engine
  "libbmpresize, the library behind the bmpresize tool, enlarges BMP images by
whole-number factors, one across and one down: every pixel is repeated along
its row and every row down the image, so the result is exact. It takes every
uncompressed kind (1 to 32 bits per pixel, colour tables and masks, the OS/2
and Windows headers up to V5) and writes the input's own kind, streaming
through one fixed buffer whatever the size of the image.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libbmpresizer${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "library to enlarge BMP images by a whole-number factor
${about_resizing}

This package holds the shared library, whose one C function is BMPResizer,
and the stand-in for the application framework it registers with when
loaded.")
set(debian "${PROJECT_SOURCE_DIR}/packaging/debian")
# What other packages' builds learn about each library (dpkg-shlibdeps reads
# the symbols file first). Written here rather than by CPack, which would
# also list the module's framework stand-in, a private library with no
# SONAME version. The loader's cache learns of the libraries through the
# ldconfig trigger.
configure_file("${debian}/shlibs.in" "${PROJECT_BINARY_DIR}/packaging/shlibs" @ONLY)
configure_file("${debian}/symbols.in" "${PROJECT_BINARY_DIR}/packaging/symbols" @ONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${debian}/triggers"
  "${PROJECT_BINARY_DIR}/packaging/shlibs" "${PROJECT_BINARY_DIR}/packaging/symbols")
foreach(file IN ITEMS shlibs symbols)
  configure_file("${debian}/libbmpresize.${file}.in"
    "${PROJECT_BINARY_DIR}/packaging/engine/${file}" @ONLY)
endforeach()
set(CPACK_DEBIAN_ENGINE_RUNTIME_PACKAGE_CONTROL_EXTRA "${debian}/triggers"
  "${PROJECT_BINARY_DIR}/packaging/engine/shlibs" "${PROJECT_BINARY_DIR}/packaging/engine/symbols")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libbmpresizer-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
if(BUILD_SHARED_LIBS)
  set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "library to enlarge BMP images by a whole-number factor - development files
${about_resizing}

This package holds what programs need to be built with the library: the
header bmpresizer.h, the link to the shared library, a CMake package
(find_package(bmpresizer) gives the target bmpresizer::bmpresizer) and a
pkg-config file.")

set(CPACK_DEBIAN_ENGINE_RUNTIME_PACKAGE_NAME libbmpresize${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_ENGINE_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_ENGINE_RUNTIME_DESCRIPTION
  "library to enlarge BMP images by whole-number factors
${about_engine}

This package holds the shared library, with C functions on paths, streams
through callbacks and memory.")

set(CPACK_DEBIAN_ENGINE_DEVELOPMENT_PACKAGE_NAME libbmpresize-dev)
set(CPACK_DEBIAN_ENGINE_DEVELOPMENT_PACKAGE_SECTION libdevel)
if(BUILD_SHARED_LIBS)
  set(CPACK_COMPONENT_ENGINE_DEVELOPMENT_DEPENDS engine_runtime)
endif()
set(CPACK_COMPONENT_ENGINE_DEVELOPMENT_DESCRIPTION
  "library to enlarge BMP images by whole-number factors - development files
${about_engine}

This package holds what programs need to be built with the library: the
header bmpresize.h (C99 and C++), the link to the shared library, a CMake
package (find_package(bmpresize), or find_package(bmpresizer) with
libbmpresizer-dev, gives the target bmpresizer::bmpresize) and a pkg-config
file, bmpresize.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME bmpresize)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION graphics)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "enlarge BMP images by whole-number factors
${about_engine}

This package holds the command-line tool bmpresize and its manual page. It
enlarges one file, or many files into a folder several at a time, and shows
a progress bar on a terminal. The library is built into it.")

# The Python package: pure Python, for every architecture, on the package of
# the library it loads, the engine's, of at least this version (an exact
# version would tie it to one architecture's build). Its scripts
# byte-compile the modules on installation and remove the compiled files
# before removal, as Debian's Python packages do (dh_python3's snippets).
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-bmpresizer)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
  "${CPACK_DEBIAN_ENGINE_RUNTIME_PACKAGE_NAME} (>= ${PROJECT_VERSION}), python3:any")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  "${debian}/python3-bmpresizer/postinst" "${debian}/python3-bmpresizer/prerm")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
  "library to enlarge BMP images by whole-number factors - Python 3 module
${about_engine}

This package holds the Python 3 module bmpresizer, which calls libbmpresize
through ctypes: bmpresizer.enlarge(src, dst, factor) enlarges a file or a
file object (factor: one number, or a pair across and down),
bmpresizer.enlarge_bytes an image in memory, and bmpresizer.describe tells
what an enlargement will be; failures raise BMPResizerError. python3 -m
bmpresizer INPUT OUTPUT FACTOR enlarges one file as the tool does.")

# What Debian wants in every package's documentation folder: the copyright
# file and the changelog, compressed without a time stamp. Installed only
# with a component, as CPack does, not by a plain `cmake --install`.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_program(BMPRESIZER_GZIP gzip REQUIRED)
  set(changelog "${PROJECT_BINARY_DIR}/packaging/changelog.Debian")
  add_custom_command(OUTPUT "${changelog}.gz"
    COMMAND "${CMAKE_COMMAND}" -E copy "${debian}/changelog" "${changelog}"
    COMMAND "${BMPRESIZER_GZIP}" -9nf "${changelog}"
    DEPENDS "${debian}/changelog"
    COMMENT "Compressing the Debian changelog" VERBATIM)
  add_custom_target(bmpresizer_debian_changelog ALL DEPENDS "${changelog}.gz")
  # (A static build has no run-time packages: everything is in the -dev ones.)
  set(packages development ${CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME}
    engine_development ${CPACK_DEBIAN_ENGINE_DEVELOPMENT_PACKAGE_NAME})
  if(BUILD_SHARED_LIBS)
    list(APPEND packages runtime ${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME}
      engine_runtime ${CPACK_DEBIAN_ENGINE_RUNTIME_PACKAGE_NAME})
  endif()
  if(TARGET bmpresize)
    list(APPEND packages tool ${CPACK_DEBIAN_TOOL_PACKAGE_NAME})
  endif()
  if(BMPRESIZER_PYTHON_DIR)
    list(APPEND packages python ${CPACK_DEBIAN_PYTHON_PACKAGE_NAME})
  endif()
  while(packages)
    list(POP_FRONT packages component package)
    install(FILES "${debian}/copyright" "${changelog}.gz"
      DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}"
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endwhile()
endif()

include(CPack)
