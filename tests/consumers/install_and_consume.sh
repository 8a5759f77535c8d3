#!/usr/bin/env bash
# Installs a built tree into a fresh prefix, checks what landed there, runs
# the installed tool, and builds and runs the example hosts against the
# installed library twice: through find_package(bmpresizer) and through
# pkg-config.
#
#   install_and_consume.sh BUILD_DIR SOURCE_DIR WORK_DIR VERSION
#   install_and_consume.sh --installed SOURCE_DIR WORK_DIR VERSION
#
# The second form checks the copy that the Debian packages installed under
# /usr instead, and builds the consumers as a user would there: with no
# paths given, so that the loader's cache, the multiarch folders and the
# default search paths of CMake and pkg-config are tested too. A static
# build's install (libbmpresizer.a, no shared library) is checked as a C
# program links it: both routes, with no flags but those they give.
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
  check "the static library, and no shared one" \
    bash -c "test -f '$libdir/libbmpresizer.a' && ! ls '$libdir'/libbmpresizer.so* 2>/dev/null"
else
  check "the library is version $version" test -f "$libdir/libbmpresizer.so.$version"
  check "the library's SONAME is libbmpresizer.so.$major" \
    bash -c "objdump -p '$libdir/libbmpresizer.so.$version' | grep -q 'SONAME *libbmpresizer.so.$major\$'"
  check "the development and SONAME links" test -L "$libdir/libbmpresizer.so" -a -L "$libdir/libbmpresizer.so.$major"
  # The framework stand-in's generic name stays out of the loader's folders.
  check "the framework stand-in is in the library's private folder, not beside it" \
    test -f "$libdir/bmpresizer/libapp_framework.so" -a ! -e "$libdir/libapp_framework.so"
  check "the library finds the framework stand-in through its run path" bash -c \
    "env -u LD_LIBRARY_PATH ldd '$libdir/libbmpresizer.so.$major' |
       grep -q '^[[:space:]]*libapp_framework.so => $libdir/bmpresizer/libapp_framework.so '"
fi
check "the header" test -f "$prefix/include/bmpresizer.h"
check "the CMake package" test -f "$libdir/cmake/bmpresizer/bmpresizerConfigVersion.cmake"
check "the pkg-config file" test -f "$libdir/pkgconfig/bmpresizer.pc"
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
    -o "$work/pkg_config_host"
}

sample=$source/samples/sample.bmp
check "the tool runs" bash -c "'$prefix/bin/bmpresize' --version | grep -qx 'bmpresize $version'"
check "the tool enlarges the sample" "$prefix/bin/bmpresize" "$sample" "$work/tool.bmp" 2
# 24 bits a pixel, rows padded to four bytes, after 54 bytes of headers.
read -r width height < <(od -An -tu4 -j18 -N8 "$sample")
row=$(((width * 2 * 3 + 3) / 4 * 4))
check "the enlarged sample is $((width * 2)) x $((height * 2)), $((54 + row * height * 2)) bytes" \
  test "$(stat -c %s "$work/tool.bmp" 2>/dev/null)" = $((54 + row * height * 2))

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
check "find_package found this copy" \
  grep -qx "bmpresizer_DIR:PATH=$libdir/cmake/bmpresizer" "$work/find_package/CMakeCache.txt"
check "find_package consumer builds" cmake --build "$work/find_package"
check "find_package consumer links and runs" \
  "$work/find_package/link_host" "$sample" "$work/find_package.bmp" 2
check "the library and the tool make the same image" cmp "$work/find_package.bmp" "$work/tool.bmp"
if [ "$static" -eq 0 ]; then
  check "find_package consumer loads at run time" \
    "$work/find_package/load_at_run_time" "$loaded" "$sample" "$work/loaded.bmp"
fi
mkdir -p "$work/too_new"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(too_new C)\nfind_package(bmpresizer 2.0 REQUIRED)\n' \
  >"$work/too_new/CMakeLists.txt"
check "find_package(bmpresizer 2.0) is refused" \
  refused cmake -S "$work/too_new" -B "$work/too_new/build" "${prefix_hint[@]}"

if command -v pkg-config >/dev/null 2>&1; then
  export PKG_CONFIG_PATH=$pc_path
  check "pkg-config knows version $version" bash -c "test \"\$(pkg-config --modversion bmpresizer)\" = $version"
  check "pkg-config finds this copy" \
    bash -c "test \"\$(realpath -m \"\$(pkg-config --variable=libdir bmpresizer)\")\" = '$libdir'"
  check "pkg-config consumer builds" build_with_pkg_config
  check "pkg-config consumer runs" "$work/pkg_config_host" "$sample" "$work/pkg_config.bmp" 3
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
