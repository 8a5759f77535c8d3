#!/usr/bin/env bash
# Installs a built tree into a fresh prefix, checks what landed there, and
# builds and runs the example hosts against it twice: through
# find_package(bmpresizer) and through pkg-config.
#
#   install_and_consume.sh BUILD_DIR SOURCE_DIR WORK_DIR VERSION
set -uo pipefail
build=$1 source=$2 work=$3 version=$4
major=${version%%.*}
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
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

check "cmake --install into a new prefix" cmake --install "$build" --prefix "$prefix"
(cd "$prefix" && find . -type f -o -type l | sort) >"$work/tree.txt"
sed 's/^/    /' "$work/tree.txt"

library=$(find "$prefix" -name 'libbmpresizer.so.*.*.*.*' | head -n 1)
libdir=$(dirname "${library:-$prefix/lib/none}")
check "the library is version $version" test -f "$libdir/libbmpresizer.so.$version"
check "the library's SONAME is libbmpresizer.so.$major" \
  bash -c "objdump -p '$libdir/libbmpresizer.so.$version' | grep -q 'SONAME *libbmpresizer.so.$major\$'"
check "the development and SONAME links" test -L "$libdir/libbmpresizer.so" -a -L "$libdir/libbmpresizer.so.$major"
check "the header" test -f "$prefix/include/bmpresizer.h"
check "the tool runs" bash -c "'$prefix/bin/bmpresize' --version | grep -qx 'bmpresize $version'"
check "the CMake package" test -f "$libdir/cmake/bmpresizer/bmpresizerConfigVersion.cmake"
check "the pkg-config file" test -f "$libdir/pkgconfig/bmpresizer.pc"

sample=$source/samples/sample.bmp
check "find_package consumer configures" \
  cmake -S "$source/examples" -B "$work/find_package" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release
check "find_package consumer builds" cmake --build "$work/find_package"
check "find_package consumer links and runs" \
  "$work/find_package/link_host" "$sample" "$work/find_package.bmp" 2
check "find_package consumer loads at run time" \
  "$work/find_package/load_at_run_time" "$libdir/libbmpresizer.so.$major" "$sample" "$work/loaded.bmp"
mkdir -p "$work/too_new"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(too_new C)\nfind_package(bmpresizer 2.0 REQUIRED)\n' \
  >"$work/too_new/CMakeLists.txt"
check "find_package(bmpresizer 2.0) is refused" bash -c \
  "! cmake -S '$work/too_new' -B '$work/too_new/build' -DCMAKE_PREFIX_PATH='$prefix'"

if command -v pkg-config >/dev/null 2>&1; then
  export PKG_CONFIG_PATH=$libdir/pkgconfig
  check "pkg-config knows version $version" bash -c "test \"\$(pkg-config --modversion bmpresizer)\" = $version"
  check "pkg-config consumer builds" bash -c \
    "cc '$source/examples/link_host.c' \$(pkg-config --cflags --libs bmpresizer) \
       -Wl,-rpath,'$libdir' -o '$work/pkg_config_host'"
  check "pkg-config consumer runs" "$work/pkg_config_host" "$sample" "$work/pkg_config.bmp" 3
else
  echo "skipped: pkg-config is not installed"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
