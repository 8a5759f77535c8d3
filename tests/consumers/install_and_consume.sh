#!/usr/bin/env bash
# Installs a built tree into a fresh prefix, checks what landed there, runs
# the installed tool, and builds and runs the examples against the installed
# libraries twice: through find_package (bmpresizer with the engine, and
# bmpresize alone) and through pkg-config. The module's hosts call
# BMPResizer; enlarge_with_engine (C99) enlarges the sample through the
# engine by path and in memory.
#
#   install_and_consume.sh BUILD_DIR SOURCE_DIR WORK_DIR VERSION
#   install_and_consume.sh --installed SOURCE_DIR WORK_DIR VERSION
#
# The second form checks the copy that the Debian packages installed under
# /usr instead, and builds the consumers as a user would there: with no
# paths given, so that the loader's cache, the multiarch folders and the
# default search paths of CMake and pkg-config are tested too. A static
# build's install (libbmpresizer.a and libbmpresize.a, no shared library) is
# checked as a C program links it: both routes, with no flags but those they
# give.
set -uo pipefail
installed=0
if [ "${1:-}" = --installed ]; then
  installed=1
  shift
  build='' source=$1 work=$2 version=$3
else
  build=$1 source=$2 work=$3 version=$4
fi
major=${version%%.*}
rm -rf "$work"
mkdir -p "$work"
passed=0 failed=0
check() {  # check "what" command...
  local what=$1
  shift
  if "$@" >"$work/last.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
    sed 's/^/    /' "$work/last.log"
  fi
}

if [ "$installed" -eq 1 ]; then
  prefix=/usr
else
  prefix=$work/prefix
  check "cmake --install into a new prefix" cmake --install "$build" --prefix "$prefix"
  (cd "$prefix" && find . -type f -o -type l | sort) >"$work/tree.txt"
  sed 's/^/    /' "$work/tree.txt"
fi

library=$(find "$prefix"/lib* -maxdepth 2 -name "libbmpresizer.so.$version" 2>/dev/null | head -n 1)
static=0
if [ -z "$library" ] && [ "$installed" -eq 0 ]; then
  library=$(find "$prefix"/lib* -maxdepth 2 -name libbmpresizer.a 2>/dev/null | head -n 1)
  [ -z "$library" ] || static=1
fi
libdir=$(dirname "${library:-$prefix/lib/none}")
if [ "$static" -eq 1 ]; then
  check "the static libraries, and no shared one" \
    bash -c "test -f '$libdir/libbmpresizer.a' -a -f '$libdir/libbmpresize.a' &&
      ! ls '$libdir'/libbmpresize*.so* 2>/dev/null"
else
  for name in bmpresizer bmpresize; do
    check "lib$name is version $version" test -f "$libdir/lib$name.so.$version"
    check "lib$name's SONAME is lib$name.so.$major" \
      bash -c "objdump -p '$libdir/lib$name.so.$version' | grep -q 'SONAME *lib$name.so.$major\$'"
    check "lib$name's development and SONAME links" \
      test -L "$libdir/lib$name.so" -a -L "$libdir/lib$name.so.$major"
  done
  # A program that uses the engine loads nothing else of ours.
  check "the engine has no run path and needs none of our libraries" \
    bash -c "! objdump -p '$libdir/libbmpresize.so.$version' |
      grep -E 'R(UN)?PATH|NEEDED +lib(app_framework|bmpresizer)'"
  # The framework stand-in's generic name stays out of the loader's folders.
  check "the framework stand-in is in the library's private folder, not beside it" \
    test -f "$libdir/bmpresizer/libapp_framework.so" -a ! -e "$libdir/libapp_framework.so"
  check "the library finds the framework stand-in through its run path" bash -c \
    "env -u LD_LIBRARY_PATH ldd '$libdir/libbmpresizer.so.$major' |
       grep -q '^[[:space:]]*libapp_framework.so => $libdir/bmpresizer/libapp_framework.so '"
fi
for name in bmpresizer bmpresize; do
  check "$name: the header, the CMake package and the pkg-config file" \
    test -f "$prefix/include/$name.h" -a -f "$libdir/cmake/$name/${name}ConfigVersion.cmake" \
      -a -f "$libdir/pkgconfig/$name.pc"
done
check "the manual page" test -f "$prefix/share/man/man1/bmpresize.1.gz"

# What the consumers are told about where the library is: nothing for the
# system's copy.
if [ "$installed" -eq 1 ]; then
  prefix_hint=() pc_path='' rpath=() loaded=libbmpresizer.so.$major
else
  prefix_hint=(-DCMAKE_PREFIX_PATH="$prefix") pc_path=$libdir/pkgconfig
  rpath=("-Wl,-rpath,$libdir") loaded=$libdir/libbmpresizer.so.$major
fi
pkg_config_libs=(--libs)
if [ "$static" -eq 1 ]; then
  rpath=() pkg_config_libs=(--static --libs)
fi
refused() { ! "$@"; }
# The flags from pkg-config are words to split.
# shellcheck disable=SC2046
build_with_pkg_config() {
  cc "$source/examples/link_host.c" $(pkg-config --cflags "${pkg_config_libs[@]}" bmpresizer) "${rpath[@]}" \
    -o "$work/pkg_config_host" &&
    cc -std=c99 -Wall -Wextra -pedantic -Werror "$source/examples/enlarge_with_engine.c" \
      $(pkg-config --cflags "${pkg_config_libs[@]}" bmpresize) "${rpath[@]}" -o "$work/pkg_config_engine"
}
# enlarge_with_engine PROGRAM NAME: the sample enlarged 3 x 2 by the engine
# by path and in memory, each as the tool enlarges it.
enlarge_with_engine() {
  "$1" "$sample" "$work/$2-path.bmp" "$work/$2-memory.bmp" 3 2 &&
    cmp "$work/$2-path.bmp" "$work/tool-3x2.bmp" && cmp "$work/$2-memory.bmp" "$work/tool-3x2.bmp"
}

sample=$source/samples/sample.bmp
check "the tool runs" bash -c "'$prefix/bin/bmpresize' --version | grep -qx 'bmpresize $version'"
check "the tool enlarges the sample" "$prefix/bin/bmpresize" "$sample" "$work/tool.bmp" 2
# 24 bits a pixel, rows padded to four bytes, after 54 bytes of headers.
read -r width height < <(od -An -tu4 -j18 -N8 "$sample")
row=$(((width * 2 * 3 + 3) / 4 * 4))
check "the enlarged sample is $((width * 2)) x $((height * 2)), $((54 + row * height * 2)) bytes" \
  test "$(stat -c %s "$work/tool.bmp" 2>/dev/null)" = $((54 + row * height * 2))
row=$(((width * 3 * 3 + 3) / 4 * 4))
check "the tool enlarges the sample 3 across, 2 down: $((54 + row * height * 2)) bytes" \
  bash -c "'$prefix/bin/bmpresize' '$sample' '$work/tool-3x2.bmp' 3x2 &&
    test \"\$(stat -c %s '$work/tool-3x2.bmp')\" = $((54 + row * height * 2))"
# Its pixels as GraphicsMagick decodes them, against the sample's repeated by
# GraphicsMagick itself.
if command -v gm >/dev/null 2>&1; then
  check "GraphicsMagick sees the sample's pixels repeated 3 x 2" bash -c \
    "cmp <(gm convert '$sample' -sample $((width * 3))x$((height * 2))! ppm:-) \
         <(gm convert '$work/tool-3x2.bmp' ppm:-)"
fi

# The Python package, in the prefix's Python folder, finds the installed
# library through the loader (here its search path). (A static build has no
# library for it to load, and installs none.)
if [ "$installed" -eq 0 ] && [ "$static" -eq 0 ] && command -v python3 >/dev/null 2>&1; then
  module=$(find "$prefix" -path '*/bmpresizer/__init__.py' | head -n 1)
  check "the Python package is in a Python folder of the prefix" \
    bash -c "[[ '$module' == '$prefix'/lib/python3*/*-packages/bmpresizer/__init__.py ]]"
  check "the installed Python package enlarges the sample as the tool does" bash -c \
    "PYTHONPATH='${module%/bmpresizer/__init__.py}' LD_LIBRARY_PATH='$libdir' PYTHONDONTWRITEBYTECODE=1 \
       python3 -m bmpresizer '$sample' '$work/python.bmp' 2 && cmp '$work/python.bmp' '$work/tool.bmp'"
fi

check "find_package consumer configures" \
  cmake -S "$source/examples" -B "$work/find_package" "${prefix_hint[@]}" -DCMAKE_BUILD_TYPE=Release
# (Not another copy, say one under /usr/local, which CMake would try first.)
check "find_package found this copy, and the engine's package beside it" \
  test "$(grep -cx -e "bmpresizer_DIR:PATH=$libdir/cmake/bmpresizer" \
    -e "bmpresize_DIR:PATH=$libdir/cmake/bmpresize" "$work/find_package/CMakeCache.txt")" = 2
check "find_package consumer builds" cmake --build "$work/find_package"
check "find_package consumer links and runs" \
  "$work/find_package/link_host" "$sample" "$work/find_package.bmp" 2
check "the library and the tool make the same image" cmp "$work/find_package.bmp" "$work/tool.bmp"
if [ "$static" -eq 0 ]; then
  check "find_package consumer loads at run time" \
    "$work/find_package/load_at_run_time" "$loaded" "$sample" "$work/loaded.bmp" 2
fi
check "find_package consumer enlarges through the engine by path and in memory as the tool does" \
  enlarge_with_engine "$work/find_package/enlarge_with_engine" find_package
# The engine's own package, without the module's.
mkdir -p "$work/engine_only"
cat >"$work/engine_only/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(engine_only C)
find_package(bmpresize 1.0 REQUIRED)
if(TARGET bmpresizer::bmpresizer)
  message(FATAL_ERROR "find_package(bmpresize) brought the module too")
endif()
add_executable(enlarge_with_engine "$source/examples/enlarge_with_engine.c")
target_link_libraries(enlarge_with_engine PRIVATE bmpresizer::bmpresize)
EOF
check "find_package(bmpresize) alone gives bmpresizer::bmpresize" \
  cmake -S "$work/engine_only" -B "$work/engine_only/build" "${prefix_hint[@]}"
check "which links" cmake --build "$work/engine_only/build"
check "and enlarges as the tool does" \
  enlarge_with_engine "$work/engine_only/build/enlarge_with_engine" engine_only
for name in bmpresizer bmpresize; do
  mkdir -p "$work/too_new_$name"
  printf 'cmake_minimum_required(VERSION 3.20)\nproject(too_new C)\nfind_package(%s 2.0 REQUIRED)\n' \
    "$name" >"$work/too_new_$name/CMakeLists.txt"
  check "find_package($name 2.0) is refused" \
    refused cmake -S "$work/too_new_$name" -B "$work/too_new_$name/build" "${prefix_hint[@]}"
done

if command -v pkg-config >/dev/null 2>&1; then
  export PKG_CONFIG_PATH=$pc_path
  for name in bmpresizer bmpresize; do
    check "pkg-config knows $name $version, this copy" bash -c \
      "test \"\$(pkg-config --modversion $name)\" = $version &&
         test \"\$(realpath -m \"\$(pkg-config --variable=libdir $name)\")\" = '$libdir'"
  done
  check "pkg-config consumers build" build_with_pkg_config
  check "pkg-config consumer runs" "$work/pkg_config_host" "$sample" "$work/pkg_config.bmp" 3
  check "pkg-config consumer enlarges through the engine by path and in memory as the tool does" \
    enlarge_with_engine "$work/pkg_config_engine" pkg_config
else
  echo "skipped: pkg-config is not installed"
fi

if [ "$installed" -eq 0 ]; then
  check "the uninstall target removes everything it installed" \
    bash -c "cmake --build '$build' --target uninstall && test -z \"\$(find '$prefix' ! -type d)\""
  check "and leaves no folder of its own" \
    bash -c "test -z \"\$(find '$prefix' -name '*bmpresize*')\""
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
