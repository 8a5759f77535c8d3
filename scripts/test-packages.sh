#!/usr/bin/env bash
# Builds the packages and checks them as their users will meet them.
#
#   scripts/test-packages.sh [deb] [windows] [static]   (all when none is named)
#
# deb: a release build for /usr with Debian's hardening flags in
#   BUILD_DIR (default build-packages); `cpack -G DEB` makes libbmpresizer1,
#   libbmpresizer-dev, libbmpresize1, libbmpresize-dev, bmpresize and
#   python3-bmpresizer, each depending on what it uses and no more; lintian
#   must find no error and no warning but the two accepted below. Then, as
#   root, apt installs the six, the installed tool enlarges the sample
#   without a shared library of ours, each library exports what its symbols
#   file lists, consumers build against the installed libraries
#   (tests/consumers/install_and_consume.sh --installed) and the system's
#   Python enlarges it through the Python package and the engine; apt
#   purges them again and the machine's package list must be as before.
#   Needs root, apt, dpkg-dev, lintian and python3, and none of the six
#   packages installed beforehand.
# windows: for each MinGW-w64 architecture's toolchain file in
#   cmake/toolchains/ (or those in WINDOWS_TOOLCHAINS, space-separated; the
#   part the architectures share is no architecture), a release build in
#   BUILD_DIR-windows-NAME and `cpack -G ZIP`; checks the archive's name,
#   its list of files, its own README.txt and the processor its binaries
#   are for, that the module's DLL exports BMPResizer alone and the
#   engine's exactly what its lib/bmpresize.def lists, and builds a C program
#   with Microsoft's ABI (clang, lld-link) against its BMPResizer.lib and
#   bmpresize.lib, which must import BMPResizer from BMPResizer.dll and the
#   engine's functions from libbmpresize.dll and, under Wine where the build
#   found it, run. Needs clang, lld, llvm and python3-pefile.
# static: a release build of the static library (BUILD_SHARED_LIBS=OFF) in
#   BUILD_DIR-static, installed into a new prefix, where C programs link the
#   module and the engine through find_package and `pkg-config --static` and
#   run (tests/consumers/install_and_consume.sh); then uninstalled.
set -uo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.." || exit 2
root=$PWD
build=${BUILD_DIR:-build-packages}
case $build in /*) ;; *) build=$root/$build ;; esac
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(deb windows static)
version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt | head -n 1)
major=${version%%.*}
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi

# shellcheck source=scripts/checks.sh
. scripts/checks.sh
# build_and_pack DIR GENERATOR LABEL CMAKE-ARGUMENTS...: a release build of
# the library and the tool in DIR, then `cpack -G GENERATOR` into
# DIR/packages; on failure shows the log, counts a failure and returns 1.
build_and_pack() {
  local dir=$1 package_generator=$2 label=$3
  shift 3
  if ! cmake -S . -B "$dir" "$@" -DCMAKE_BUILD_TYPE=Release \
      -DBMPRESIZER_BUILD_TESTS=OFF -DBMPRESIZER_BUILD_EXAMPLES=OFF >"$log" 2>&1 ||
     ! cmake --build "$dir" --parallel 2 >>"$log" 2>&1; then
    cat "$log"
    fail "the release build for $label"
    return 1
  fi
  rm -rf "$dir/packages"
  if ! (cd "$dir" && cpack -G "$package_generator") >"$log" 2>&1; then
    cat "$log"
    fail "cpack -G $package_generator for $label"
    return 1
  fi
}
start=$SECONDS

deb_packages=("libbmpresizer$major" libbmpresizer-dev "libbmpresize$major" libbmpresize-dev bmpresize
  python3-bmpresizer)
installed_by_us=0
purge() {
  apt-get purge -y -qq -o DPkg::Lock::Timeout=600 "${deb_packages[@]}" >/dev/null
}
owned_by() {  # owned_by PACKAGE PATH: dpkg lists PATH as a file of PACKAGE
  [ "$(dpkg -S "$2" 2>/dev/null)" = "$1: $2" ]
}

# use_python_package DIR SITE SONAME: the installed Python package, used in DIR.
use_python_package() (
  local dir=$1 site=$2 soname=$3 found
  cd "$dir" || return 1
  found=$(/usr/bin/python3 -c 'import bmpresizer; print(bmpresizer.__file__, bmpresizer.load_library()._name)')
  [ "$found" = "$site/bmpresizer/__init__.py $soname" ] || { echo "found: $found"; return 1; }
  /usr/bin/python3 -m bmpresizer "$root/samples/sample.bmp" by-python.bmp 3 &&
    bmpresize "$root/samples/sample.bmp" by-tool.bmp 3 &&
    cmp by-python.bmp by-tool.bmp || return 1
  /usr/bin/python3 -c 'import bmpresizer, sys; bmpresizer.enlarge(sys.argv[1], "by-python-3x2.bmp", (3, 2))' \
    "$root/samples/sample.bmp" &&
    bmpresize "$root/samples/sample.bmp" by-tool-3x2.bmp 3x2 &&
    cmp by-python-3x2.bmp by-tool-3x2.bmp || return 1
  # The engine prints nothing: the reason is the exception's.
  /usr/bin/python3 -c 'import bmpresizer; bmpresizer.enlarge("missing.bmp", "out.bmp", 2)' \
    >stdout.txt 2>stderr.txt
  [ $? -eq 1 ] && [ ! -s stdout.txt ] &&
    grep -q '^bmpresizer.BMPResizer[A-Za-z]*Error: missing.bmp: cannot open' stderr.txt || {
    cat stdout.txt stderr.txt
    return 1
  }
)

test_deb() {
  step "Debian packages: build"
  if [ "$(id -u)" -ne 0 ]; then
    fail "installing the packages needs root"
    return
  fi
  local package
  for package in "${deb_packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$'; then
      fail "$package is installed already; remove it first (this test leaves the machine as it found it)"
      return
    fi
  done
  # Debian's flags, as a package build gets them: hardening, and the build
  # folder's name kept out of the binaries. No -Werror: fortified C library
  # declarations bring warnings of their own.
  local cflags cxxflags ldflags
  cflags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS) \
$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CFLAGS)"
  cxxflags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS) \
$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)"
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  build_and_pack "$build" DEB "the packages" "${generator[@]}" -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" || return

  local arch debs
  arch=$(dpkg --print-architecture)
  debs=("$build"/packages/*.deb)
  check "cpack made exactly the six packages, version $version-1" \
    test "$(cd "$build/packages" && echo *.deb)" = \
         "bmpresize_$version-1_$arch.deb libbmpresize-dev_$version-1_$arch.deb libbmpresize${major}_$version-1_$arch.deb libbmpresizer-dev_$version-1_$arch.deb libbmpresizer${major}_$version-1_$arch.deb python3-bmpresizer_$version-1_all.deb"
  check "the changelog's newest entry is this version" \
    test "$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)" = "$version-1"
  local deb
  for deb in "${debs[@]}"; do
    echo "-- ${deb##*/}"
    dpkg-deb -f "$deb" Depends | sed 's/^/   Depends: /'
    dpkg-deb -c "$deb" | awk '{ print "   " $1, $6, $7, $8 }'
  done
  # Each package on what it uses: the engine on the C library alone (no C++
  # run-time), the tool on neither library (the engine is built into it),
  # the Python package on the engine, each -dev package on its own library
  # of this very version.
  local p=$build/packages
  check "the package dependencies: each on what it uses and no more" bash -c "
    depends() { dpkg-deb -f \"\$1\" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort | tr '\n' ' '; }
    test \"\$(depends $p/libbmpresize${major}_*.deb)\" = 'libc6 ' &&
      ! depends $p/bmpresize_*.deb | grep -q libbmpresize &&
      test \"\$(depends $p/python3-bmpresizer_*.deb)\" = 'libbmpresize$major python3:any ' &&
      dpkg-deb -f $p/libbmpresize-dev_*.deb Depends | grep -qx 'libbmpresize$major (= $version-1)' &&
      dpkg-deb -f $p/libbmpresizer-dev_*.deb Depends | grep -qx 'libbmpresizer$major (= $version-1)'"

  step "Debian packages: lintian"
  # Accepted warnings: these packages are not uploaded to Debian, so there
  # is no bug to close; CPack writes a postinst and a postrm that call
  # ldconfig for any library in /usr/lib, beside the trigger we ship.
  lintian --display-info --pedantic "${debs[@]}" 2>/dev/null | tee "$build/lintian.txt"
  check "lintian: no error, no warning but the accepted ones" bash -c \
    "! grep -E '^[EW]: ' '$build/lintian.txt' |
       grep -vE ': (initial-upload-closes-no-bugs|maintscript-calls-ldconfig) '"

  step "Debian packages: install, use, purge"
  local triplet before after
  triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  before=$(dpkg-query -W -f='${Package}:${Architecture} ${Version} ${Status}\n' | sort)
  # apt reads local packages as root when its own user may not.
  if ! apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${debs[@]}" \
      >"$log" 2>&1; then
    cat "$log"
    fail "apt-get install ./*.deb"
    purge
    return
  fi
  installed_by_us=1
  trap 'rm -f "$log"; [ "$installed_by_us" -eq 0 ] || purge' EXIT
  local lib=/usr/lib/$triplet
  check "package contents: libbmpresizer$major has the library and the framework stand-in" \
    bash -c "$(declare -f owned_by); owned_by libbmpresizer$major $lib/libbmpresizer.so.$version &&
      owned_by libbmpresizer$major $lib/libbmpresizer.so.$major &&
      owned_by libbmpresizer$major $lib/bmpresizer/libapp_framework.so"
  check "package contents: libbmpresize$major has the engine" \
    bash -c "$(declare -f owned_by); owned_by libbmpresize$major $lib/libbmpresize.so.$version &&
      owned_by libbmpresize$major $lib/libbmpresize.so.$major"
  local name
  for name in bmpresizer bmpresize; do
    check "package contents: lib$name-dev has the header, the link, the CMake and pkg-config files" \
      bash -c "$(declare -f owned_by); owned_by lib$name-dev /usr/include/$name.h &&
        owned_by lib$name-dev $lib/lib$name.so &&
        owned_by lib$name-dev $lib/cmake/$name/${name}Config.cmake &&
        owned_by lib$name-dev $lib/pkgconfig/$name.pc"
    # What the symbols file promises is what the library exports.
    check "lib$name$major exports exactly what its symbols file lists" bash -c \
      "diff <(dpkg-deb -I $build/packages/lib$name${major}_*.deb symbols | sed -n 's/^ \\([^@]*\\)@.*/\\1/p' | sort) \
            <(nm -D --defined-only $lib/lib$name.so.$major | awk '\$2 != \"A\" { print \$3 }' | sort)"
  done
  check "package contents: bmpresize has the tool and its manual page" \
    bash -c "$(declare -f owned_by); owned_by bmpresize /usr/bin/bmpresize &&
      owned_by bmpresize /usr/share/man/man1/bmpresize.1.gz"
  check "the installed tool loads no library of ours" \
    bash -c "objdump -p /usr/bin/bmpresize | grep -q 'NEEDED *libc.so' &&
      ! objdump -p /usr/bin/bmpresize | grep -q 'NEEDED *libbmpresize' &&
      ! ldd /usr/bin/bmpresize | grep -q libbmpresize"
  local site=/usr/lib/python3/dist-packages
  check "package contents: python3-bmpresizer has the module, byte-compiled on installation" \
    bash -c "$(declare -f owned_by); owned_by python3-bmpresizer $site/bmpresizer/__init__.py &&
      owned_by python3-bmpresizer $site/bmpresizer/__main__.py &&
      ls $site/bmpresizer/__pycache__/__init__.*.pyc"
  # (It may name the folder through /lib, which merged /usr links to usr/lib.)
  check "the libraries are in the loader's cache" \
    bash -c "ldconfig -p | grep -qE 'libbmpresizer.so.$major .*=> (/usr)?/lib/$triplet/libbmpresizer.so.$major\$' &&
      ldconfig -p | grep -qE 'libbmpresize.so.$major .*=> (/usr)?/lib/$triplet/libbmpresize.so.$major\$'"
  check "bmpresize --version, found on the PATH" \
    bash -c "bmpresize --version | grep -qx 'bmpresize $version'"
  echo "-- tests/consumers/install_and_consume.sh --installed"
  if bash tests/consumers/install_and_consume.sh --installed "$root" "$build/consume" "$version" |
      sed 's/^/   /'; then
    passed=$((passed + 1))
    echo "ok: the installed tool, and consumers of the installed library"
  else
    fail "the installed tool, and consumers of the installed library"
  fi
  # The system's Python, in a folder outside the source tree: the package
  # finds the engine through the loader's cache, enlarges as the installed
  # tool does, and raises for a missing input.
  rm -rf "$build/python" && mkdir -p "$build/python"
  check "python3 -m bmpresizer and bmpresizer.enlarge, with the installed package and engine" \
    use_python_package "$build/python" "$site" "libbmpresize.so.$major"

  purge
  installed_by_us=0
  after=$(dpkg-query -W -f='${Package}:${Architecture} ${Version} ${Status}\n' | sort)
  check "apt-get purge leaves the machine's packages as they were" \
    diff <(echo "$before") <(echo "$after")
  check "apt-get purge leaves no file and no cache entry" \
    bash -c "test ! -e $lib/bmpresizer -a ! -e $lib/libbmpresizer.so.$major -a ! -e /usr/share/doc/bmpresize &&
      test ! -e $lib/libbmpresize.so.$major -a ! -e $lib/cmake/bmpresize -a ! -e /usr/include/bmpresize.h &&
      test ! -e $site/bmpresizer -a ! -e /usr/share/doc/python3-bmpresizer &&
      ! ldconfig -p | grep -q libbmpresize"
}

# microsoft_caller TREE ARCH WORK [WINE]: a C program compiled for Microsoft's
# ABI (clang --target=ARCH-pc-windows-msvc, ARM64 as aarch64 and ARMv7 as
# thumbv7) with the unpacked archive TREE's
# headers, and linked by lld-link with TREE's lib/BMPResizer.lib and
# lib/bmpresize.lib alone (no C run-time: the program has its own entry
# point), imports exactly BMPResizer from BMPResizer.dll and the two engine
# functions it calls from libbmpresize.dll: undecorated on 32-bit x86 too,
# as the DLLs export the __cdecl functions. With WINE, it also runs beside
# the archive's DLLs and enlarges the sample by 2 through the module and 3
# across, 2 down through the engine, whose options come back by value (in a
# Wine of its own in WORK, stopped afterwards).
microsoft_caller() (
  tree=$1 arch=$2 work=$3 wine=${4:-}
  for tool in clang lld-link llvm-readobj; do
    command -v "$tool" >/dev/null || { echo "no $tool (Debian: clang, lld, llvm)"; exit 1; }
  done
  rm -rf "$work" && mkdir -p "$work/include" || exit 1
  # The headers' one system header without a freestanding one, wchar.h:
  # there are no Microsoft headers here, and clang's own stddef.h defines
  # wchar_t.
  echo '#include <stddef.h>' >"$work/include/wchar.h"
  printf '%s\n' '#include <bmpresize.h>' '#include <bmpresizer.h>' '' \
    '/* No C run-time: the process starts here and exits with what this returns. */' \
    'int start(void) {' \
    '  bmpresize_options options = bmpresize_default_options(3, 2);' \
    '  if (BMPResizer(L"in.bmp", L"out.bmp", 2) != BMPRESIZER_SUCCESS) return 1;' \
    '  return bmpresize_enlarge_file("in.bmp", "out-3x2.bmp", &options, 0) == BMPRESIZE_OK ? 0 : 2;' \
    '}' >"$work/caller.c"
  local target=$arch
  case $arch in
    *arm64) target=aarch64 ;;
    *armv7) target=thumbv7 ;;
  esac
  clang --target="$target-pc-windows-msvc" -ffreestanding -I"$work/include" -I"$tree/include" \
    -c "$work/caller.c" -o "$work/caller.obj" &&
    lld-link /nologo /nodefaultlib /entry:start /subsystem:console "/out:$work/caller.exe" \
      "$work/caller.obj" "$tree/lib/BMPResizer.lib" "$tree/lib/bmpresize.lib" || exit 1
  # DLL:function, one a line, from "Name: DLL" and "Symbol: function (hint)".
  imports=$(llvm-readobj --coff-imports "$work/caller.exe" |
    awk '$1 == "Name:" { dll = $2 } $1 == "Symbol:" { print dll ":" $2 }' | sort)
  if [ "$imports" != "$(printf '%s\n' BMPResizer.dll:BMPResizer \
      libbmpresize.dll:bmpresize_default_options libbmpresize.dll:bmpresize_enlarge_file)" ]; then
    printf 'the program imports:\n%s\n' "$imports"
    exit 1
  fi
  [ -n "$wine" ] || exit 0
  cp "$tree/bin/BMPResizer.dll" "$tree/bin/app_framework.dll" "$tree/bin/libbmpresize.dll" "$work/" &&
    cp "$root/samples/sample.bmp" "$work/in.bmp" && cd "$work" || exit 1
  export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ "$arch" != i686 ] || export WINEARCH=win32
  unset DISPLAY WAYLAND_DISPLAY
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
  # Wine now and then fails to start a program at all: up to three tries.
  for try in 1 2 3; do
    timeout 300 "$wine" caller.exe </dev/null
    status=$?
    [ "$status" -ne 0 ] || break
    echo "try $try: exit status $status"
  done
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
  # 24 bits a pixel, rows padded to four bytes, after 54 bytes of headers.
  read -r width height < <(od -An -tu4 -j18 -N8 in.bmp)
  size=$((54 + (width * 2 * 3 + 3) / 4 * 4 * height * 2))
  size_3x2=$((54 + (width * 3 * 3 + 3) / 4 * 4 * height * 2))
  [ "$status" -eq 0 ] && [ "$(stat -c %s out.bmp)" = "$size" ] &&
    [ "$(stat -c %s out-3x2.bmp)" = "$size_3x2" ] || {
    echo "exit status $status; out.bmp: $(stat -c %s out.bmp 2>&1), want $size bytes;" \
      "out-3x2.bmp: $(stat -c %s out-3x2.bmp 2>&1), want $size_3x2"
    exit 1
  }
)

# windows_readme ZIP NAME: the archive's README is the Windows one (not the
# source tree's, which speaks of scripts), with CRLF line ends.
windows_readme() {
  local text
  text=$(unzip -p "$1" "$2") || return 1
  grep -q "^bmpresizer $version for Windows"$'\r'\$ <<<"$text" &&
    ! grep -qv $'\r'\$ <<<"$text" && grep -q 'BMPResizer.lib' <<<"$text" &&
    grep -q 'bmpresize.lib' <<<"$text" && ! grep -q 'scripts/' <<<"$text"
}

test_windows() {
  local toolchains toolchain name dir zip names=()
  read -r -a toolchains <<<"${WINDOWS_TOOLCHAINS:-$(echo cmake/toolchains/mingw-w64-*.cmake)}"
  for toolchain in "${toolchains[@]}"; do
    [[ $toolchain == *-common.cmake ]] && continue
    name=${toolchain##*/}
    name=${name%.cmake}
    name=${name#mingw-w64-}
    dir=$build-windows-$name
    step "Windows archive: $name"
    build_and_pack "$dir" ZIP "$name" -G Ninja --toolchain "$toolchain" || continue
    zip=$(echo "$dir"/packages/*.zip)
    echo "-- ${zip##*/}"
    unzip -l "$zip" | sed 's/^/   /'
    names+=("${zip##*/}")
    local top=${zip##*/}
    top=${top%.zip}
    check "$name: one archive, bmpresizer-$version-windows-*.zip" \
      bash -c "[[ '${zip##*/}' == bmpresizer-$version-windows-*.zip && -f '$zip' ]]"
    # What a Windows user unpacks: the DLLs side by side with the Python
    # package that loads the engine (every file of the source tree's),
    # what links with each library, and the tool where it is built.
    local want=(README.txt LICENSE.txt bin/BMPResizer.dll bin/app_framework.dll bin/libbmpresize.dll
      include/bmpresizer.h lib/BMPResizer.lib lib/libBMPResizer.dll.a lib/bmpresizer.def
      include/bmpresize.h lib/bmpresize.lib lib/libbmpresize.dll.a lib/bmpresize.def)
    local module package
    for module in python/bmpresizer/*.py python/bmpresizer/py.typed; do
      [ ! -e "$module" ] || want+=("bin/bmpresizer/${module##*/}")
    done
    for package in bmpresizer bmpresize; do
      want+=("lib/cmake/$package/${package}Config.cmake" "lib/cmake/$package/${package}ConfigVersion.cmake"
        "lib/cmake/$package/${package}Targets.cmake" "lib/cmake/$package/${package}Targets-release.cmake"
        "lib/pkgconfig/$package.pc")
    done
    if grep -q '^BMPRESIZER_BUILD_TOOL:BOOL=ON$' "$dir/CMakeCache.txt"; then
      want+=(bin/bmpresize.exe)
    fi
    check "$name: the archive holds exactly the expected files" \
      diff <(printf "$top/%s\n" "${want[@]}" | sort) <(unzip -Z1 "$zip" | grep -v '/$' | sort)
    local format
    case $name in
      x86_64) format='PE32+ executable (DLL) (console) x86-64' ;;
      i686) format='PE32 executable (DLL) (console) Intel 80386' ;;
      *) format= ;;
    esac
    rm -rf "$dir/unzipped"
    unzip -q "$zip" -d "$dir/unzipped"
    if [ -n "$format" ]; then
      local bin=$dir/unzipped/$top/bin
      check "$name: the three DLLs are $format" bash -c \
        "file -b '$bin/BMPResizer.dll' | grep -qF '$format' &&
         file -b '$bin/app_framework.dll' | grep -qF '$format' &&
         file -b '$bin/libbmpresize.dll' | grep -qF '$format'"
      check "$name: BMPResizer.dll exports BMPResizer alone, libbmpresize.dll what lib/bmpresize.def lists, both only by name, and both need no DLL but the system's and ours" \
        bash -c "/usr/bin/python3 tests/windows/check_dll.py --exports '$bin/BMPResizer.dll' src/module/bmpresizer.def &&
          /usr/bin/python3 tests/windows/check_dll.py --exports '$bin/libbmpresize.dll' '$dir/unzipped/$top/lib/bmpresize.def'"
    fi
    local wine
    wine=$(sed -n 's/^BMPRESIZER_WINE:FILEPATH=//p' "$dir/CMakeCache.txt")
    wine=${wine%%*NOTFOUND}
    check "$name: a C program of Microsoft's toolchain links with lib/BMPResizer.lib and lib/bmpresize.lib and imports from the two DLLs${wine:+ (and runs under Wine)}" \
      microsoft_caller "$dir/unzipped/$top" "$name" "$dir/microsoft" "$wine"
    check "$name: README.txt is the archive's own, with Windows line ends" \
      windows_readme "$zip" "$top/README.txt"
  done
  if [ ${#names[@]} -gt 1 ]; then
    check "the archives' names tell the architectures apart" \
      test "$(printf '%s\n' "${names[@]}" | sort -u | wc -l)" -eq ${#names[@]}
  fi
}

test_static() {
  local dir=$build-static
  step "static library: build, install, link from C, uninstall"
  if ! cmake -S . -B "$dir" "${generator[@]}" -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release \
      -DBMPRESIZER_BUILD_TESTS=OFF -DBMPRESIZER_BUILD_EXAMPLES=OFF >"$log" 2>&1 ||
     ! cmake --build "$dir" --parallel 2 >>"$log" 2>&1; then
    cat "$log"
    fail "the static release build"
    return
  fi
  if bash tests/consumers/install_and_consume.sh "$dir" "$root" "$dir/consume" "$version" |
      sed 's/^/   /'; then
    passed=$((passed + 1))
    echo "ok: C programs link the installed static library"
  else
    fail "C programs link the installed static library"
  fi
}

for part in "${parts[@]}"; do
  case $part in
    deb) test_deb ;;
    windows) test_windows ;;
    static) test_static ;;
    *) echo "unknown part: $part (deb, windows, static)" >&2; exit 2 ;;
  esac
done
step "done"
finish
