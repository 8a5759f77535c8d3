#!/usr/bin/env bash
# Windows on ARM: builds the DLLs, the framework stand-in and the example
# hosts for ARM64 and ARMv7 with clang and lld, without a C runtime
# (cmake/toolchains/windows-arm64.cmake, windows-armv7.cmake), warnings as
# errors, and checks them from outside, since nothing here runs an ARM
# Windows binary:
#   - the DLLs with pefile (tests/windows/check_dll.py): machine, entry
#     point, exports, the framework's imports by ordinal, resources, the DLLs
#     imported, relocations, DllCharacteristics and subsystem version;
#   - the hosts: link_host and enlarge_with_engine, linked with the MinGW
#     import libraries, import exactly what they call;
#   - the run-time stand-ins' portable parts (platform/freestanding) against
#     the C library, natively and, with the ARM helpers, under qemu-user;
#   - the same DLLs and hosts built for x86-64 on the same stand-ins
#     (windows-x86_64-freestanding.cmake), run under Wine: the DLLs' start-up
#     (the module registers with the framework when loaded and unregisters
#     when unloaded), thread-local storage, heap, formatting and console
#     line in a real loader, and the hosts' start-up on msvcrt.dll;
#   - the archives, as scripts/test-packages.sh checks the x86 ones (a C
#     program of Microsoft's ABI linked with their BMPResizer.lib and
#     bmpresize.lib included), and the DLLs in them, stripped, through the
#     same pefile checks.
# Installs nothing: needs clang, lld, llvm, mingw-w64-common,
# mingw-w64-tools (widl), g++-mingw-w64-x86-64-posix (the C++ headers),
# python3-pefile, unzip, wine64, qemu-user and the Linux cross compilers
# g++-aarch64-linux-gnu and g++-arm-linux-gnueabihf (their C libraries).
# BUILD_DIR (default build-windows-arm) is the prefix of the build folders.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
build=${BUILD_DIR:-build-windows-arm}
case $build in /*) ;; *) build=$PWD/$build ;; esac
version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt | head -n 1)
start=$SECONDS
# shellcheck source=scripts/checks.sh
. scripts/checks.sh

# imports EXE: its imports as DLL:function, one a line, sorted.
imports() {
  llvm-readobj --coff-imports "$1" |
    awk '$1 == "Name:" { dll = tolower($2) } $1 == "Symbol:" { print dll ":" $2 }' | sort
}

# host_imports EXE DLL FUNCTION...: EXE imports exactly FUNCTION... from DLL
# (one of ours) and nothing from any DLL but it and the system's C library
# and kernel32.dll.
host_imports() {
  local exe=$1 dll=$2 have want
  shift 2
  have=$(imports "$exe") || return 1
  want=$(printf "$dll:%s\n" "$@" | sort)
  [ "$(grep "^$dll:" <<<"$have")" = "$want" ] &&
    ! grep -v -e "^$dll:" -e '^msvcrt.dll:' -e '^kernel32.dll:' <<<"$have" || {
    printf 'imports:\n%s\n' "$have"
    return 1
  }
}

for arch in arm64 armv7; do
  dir=$build-$arch
  step "Windows on ARM: $arch"
  if ! cmake -S . -B "$dir" -G Ninja --toolchain "cmake/toolchains/windows-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DBMPRESIZER_WERROR=ON >"$log" 2>&1 ||
     ! cmake --build "$dir" -j 2 >>"$log" 2>&1; then
    cat "$log"
    failed=$((failed + 1))
    echo "FAILED: the $arch build"
    continue
  fi
  bin=$dir/bin
  check "$arch: BMPResizer.dll and app_framework.dll as the loader and a host see them" \
    /usr/bin/python3 tests/windows/check_dll.py "$bin/BMPResizer.dll" "$bin/app_framework.dll" \
    "$version" "$arch"
  check "$arch: libbmpresize.dll exports exactly its module definition and needs only the system" \
    /usr/bin/python3 tests/windows/check_dll.py --exports "$bin/libbmpresize.dll" \
    src/resize/engine/bmpresize.def "$arch"
  check "$arch: link_host.exe (libBMPResizer.dll.a) imports BMPResizer alone from BMPResizer.dll" \
    host_imports "$bin/link_host.exe" bmpresizer.dll BMPResizer
  check "$arch: enlarge_with_engine.exe (libbmpresize.dll.a) imports the functions it calls" \
    host_imports "$bin/enlarge_with_engine.exe" libbmpresize.dll bmpresize_default_options \
    bmpresize_describe bmpresize_enlarge_file bmpresize_enlarge_memory bmpresize_exit_status \
    bmpresize_message
done

# wine_run STATUS PROGRAM ARGUMENTS...: runs PROGRAM under Wine in the
# current folder, its output in out.txt and err.txt, and again (three tries
# in all) while it exits with a status other than STATUS: Wine now and then
# fails to start a program at all.
wine_run() {
  local want=$1 status try
  shift
  for try in 1 2 3; do
    timeout 120 "$wine" "$@" </dev/null >out.txt 2>err.txt
    status=$?
    [ "$status" != "$want" ] || return 0
  done
  echo "$* exited with $status, not $want: $(cat out.txt err.txt)"
  return 1
}

# registration DIR: a program of Microsoft's ABI that loads DIR's
# BMPResizer.dll, which must then be on the framework's list of extension
# libraries, and unloads it, which must empty the list. Built with lld-link
# against the framework's and kernel32.dll's import libraries.
registration() (
  dir=$1 work=$1/registration
  rm -rf "$work" && mkdir -p "$work" || exit 1
  printf '%s\n' '#include <app_framework.h>' \
    '__declspec(dllimport) void* __stdcall LoadLibraryW(const wchar_t* name);' \
    '__declspec(dllimport) int __stdcall FreeLibrary(void* library);' \
    'int start(void) {' \
    '  void* library = LoadLibraryW(L"BMPResizer.dll");' \
    '  if (library == 0) return 1;' \
    '  if (afw_extension_libraries(0, 0, 0) != 1) return 2;' \
    '  if (!FreeLibrary(library)) return 3;' \
    '  return afw_extension_libraries(0, 0, 0) == 0 ? 0 : 4;' \
    '}' >"$work/registration.c"
  clang --target=x86_64-pc-windows-msvc -ffreestanding -Iplatform/framework \
    -c "$work/registration.c" -o "$work/registration.obj" &&
    lld-link /nologo /nodefaultlib /entry:start /subsystem:console \
      "/out:$dir/bin/registration.exe" "$work/registration.obj" \
      "$dir/platform/framework/libapp_framework.dll.a" \
      "$dir/platform/freestanding/libkernel32.a" || exit 1
  cd "$dir/bin" && wine_run 0 registration.exe
)

# under_wine DIR: the hosts of DIR/bin enlarge the sample by 2 through
# BMPResizer.dll and through libbmpresize.dll by path and in memory, all to
# the same bytes, of the size 24 bits a pixel gives; report a missing input
# as they should; and the engine's message for a truncated input holds its
# numbers (the line ends in the C library's CR LF).
under_wine() (
  cd "$1/bin" && cp "$OLDPWD/samples/sample.bmp" in.bmp && head -c 1000 in.bmp >cut.bmp || exit 1
  wine_run 0 link_host.exe in.bmp module.bmp 2 &&
    wine_run 0 enlarge_with_engine.exe in.bmp path.bmp memory.bmp 2 2 || exit 1
  read -r width height < <(od -An -tu4 -j18 -N8 in.bmp)
  size=$((54 + (width * 2 * 3 + 3) / 4 * 4 * height * 2))
  cmp module.bmp path.bmp && cmp path.bmp memory.bmp &&
    [ "$(stat -c %s module.bmp)" = "$size" ] || { echo "want $size bytes"; exit 1; }
  wine_run 3 link_host.exe missing.bmp out.bmp 2 || exit 1
  [ "$(od -An -c out.txt)" = "$(printf 'Could not open missing.bmp.\r\n' | od -An -c)" ] ||
    { echo "printed:"; od -An -c out.txt; exit 1; }
  wine_run 5 enlarge_with_engine.exe cut.bmp a.bmp b.bmp 2 2 || exit 1
  grep -qxE "enlarge_with_engine: cut\.bmp: file is truncated: the header declares [0-9]+ \
bytes, the file has 1000.?" err.txt || { cat err.txt; exit 1; }
)

step "the run-time stand-ins in a Windows loader: x86-64 under Wine"
dir=$build-x86_64
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
if ! cmake -S . -B "$dir" -G Ninja --toolchain cmake/toolchains/windows-x86_64-freestanding.cmake \
    -DCMAKE_BUILD_TYPE=Release -DBMPRESIZER_WERROR=ON >"$log" 2>&1 ||
   ! cmake --build "$dir" -j 2 >>"$log" 2>&1 || [ ! -x "$wine" ]; then
  cat "$log"
  failed=$((failed + 1))
  echo "FAILED: the x86-64 build on the stand-ins, or no Wine ($wine)"
else
  # A Wine of its own, without a display, started before the programs.
  export WINEPREFIX=$dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
  "$wineserver" -p </dev/null >/dev/null 2>&1
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  check "x86-64: BMPResizer.dll registers with the framework when loaded, and unregisters" \
    registration "$dir"
  check "x86-64: the hosts enlarge through both DLLs alike, and report failures as they should" \
    under_wine "$dir"
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
fi

step "the run-time stand-ins against the C library"
flags=(-O2 -std=c99 -Wall -Wextra -Wpedantic -Werror -ffreestanding -Iplatform/freestanding)
test_source=platform/freestanding/freestanding_test.c
mkdir -p "$build-stand-ins"
check "natively" bash -c "clang ${flags[*]} $test_source -o '$build-stand-ins/native' &&
  '$build-stand-ins/native'"
check "ARM64 code under qemu-aarch64" bash -c "clang --target=aarch64-linux-gnu ${flags[*]} \
  $test_source -o '$build-stand-ins/arm64' &&
  qemu-aarch64 -L /usr/aarch64-linux-gnu '$build-stand-ins/arm64'"
check "ARMv7 (Thumb-2) code and its helpers under qemu-arm" bash -c "clang \
  --target=arm-linux-gnueabihf -march=armv7-a -mthumb ${flags[*]} $test_source \
  -o '$build-stand-ins/armv7' && qemu-arm -L /usr/arm-linux-gnueabihf '$build-stand-ins/armv7'"

step "the archives"
if BUILD_DIR=$build-packages WINDOWS_TOOLCHAINS="cmake/toolchains/windows-arm64.cmake \
    cmake/toolchains/windows-armv7.cmake" scripts/test-packages.sh windows >"$log" 2>&1; then
  passed=$((passed + 1))
  sed -n 's/^\(ok\|FAILED\): /   &/p' "$log"
  echo "ok: the archives bmpresizer-VERSION-windows-arm64.zip and -armv7.zip"
else
  cat "$log"
  failed=$((failed + 1))
  echo "FAILED: the archives"
fi
# The DLLs as they are shipped: stripped by CPack.
for arch in arm64 armv7; do
  unpacked=$build-packages-windows-windows-$arch/unpacked
  rm -rf "$unpacked" && mkdir -p "$unpacked" &&
    unzip -q "$build-packages-windows-windows-$arch"/packages/*.zip -d "$unpacked"
  top=$(echo "$unpacked"/*)
  check "$arch: the archive's DLLs pass the same checks" bash -c "
    /usr/bin/python3 tests/windows/check_dll.py '$top/bin/BMPResizer.dll' \
      '$top/bin/app_framework.dll' $version $arch &&
    /usr/bin/python3 tests/windows/check_dll.py --exports '$top/bin/libbmpresize.dll' \
      '$top/lib/bmpresize.def' $arch"
done

step "done"
finish
