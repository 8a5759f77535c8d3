#!/usr/bin/env bash
# Builds the Windows DLL, its framework stand-in, the example hosts and the
# test suite with MinGW-w64 (POSIX threads) for one architecture, then runs
# the suite under Wine through CTest:
#   .ci/windows.sh [x86_64|i686] [CMAKE-ARGUMENTS...]
# x86_64 (the default) runs under 64-bit Wine (wine64), i686 under 32-bit
# Wine (wine); the build folder is build-win-ARCH. Installs nothing: it
# needs the Debian packages
#   x86_64: g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
#   i686:   g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386
#           (after dpkg --add-architecture i386)
#   both:   mingw-w64-tools wine python3-pefile, and llvm (llvm-dlltool, for
#           BMPResizer.lib; without it the build warns and leaves it out)
# Extra arguments go to the CMake configure step; CTEST_ARGS to CTest.
#   BUILD_DIR=build-win .ci/windows.sh i686
#   CTEST_ARGS="-R lifecycle -V" .ci/windows.sh i686
set -euo pipefail
cd "$(dirname "$0")/.."
arch=x86_64
case ${1:-} in
  x86_64 | i686) arch=$1; shift ;;
  -* | "") ;;
  *) echo "usage: .ci/windows.sh [x86_64|i686] [CMAKE-ARGUMENTS...]" >&2; exit 2 ;;
esac
build=${BUILD_DIR:-build-win-$arch}
case $build in /*) ;; *) build=$PWD/$build ;; esac

cmake -S . -B "$build" -G Ninja --toolchain "cmake/toolchains/mingw-w64-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBMPRESIZER_WERROR=ON "$@"
cmake --build "$build" -j 2

# The Wine loader that the toolchain file found, and through which CTest
# starts every test program.
wine=$(sed -n 's/^BMPRESIZER_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
case $wine in
  "" | *NOTFOUND) echo "windows.sh: no Wine for $arch; see the packages above" >&2; exit 1 ;;
esac

# A Wine of our own inside the build folder, without a display; non-ASCII
# file names need a UTF-8 locale. No Mono or Gecko: nothing here uses them.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
if [ "$arch" = i686 ]; then
  # A 32-bit prefix: quicker to create than a 64-bit one, which would also
  # hold the 32-bit system beside its own.
  export WINEARCH=win32
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
stop_wine() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT
# The server and the prefix exist before CTest starts: a server first started
# by a test would keep CTest's output pipes open and CTest waiting.
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1

# shellcheck disable=SC2086 # CTEST_ARGS holds several words
# Wine now and then fails to start a test process at all (no output, exit
# in 10 ms); such a test is run again, up to twice. A real failure fails
# every time.
ctest --test-dir "$build" -j 2 --output-on-failure --repeat until-pass:3 ${CTEST_ARGS:-}
