#!/usr/bin/env bash
# Builds the packages and checks them as their users will meet them.
#
#   scripts/test-packages.sh [deb] [windows] [static]   (all when none is named)
#
# deb: a release build for /usr with Debian's hardening flags in
#   BUILD_DIR (default build-packages); `cpack -G DEB` makes libbmpresizer1,
#   libbmpresizer-dev, bmpresize and python3-bmpresizer; lintian must find no
#   error and no warning but the two accepted below. Then, as root, apt
#   installs the four, the installed tool enlarges the sample, consumers
#   build against the installed library (tests/consumers/install_and_consume.sh
#   --installed) and the system's Python enlarges it through the module; apt
#   purges them again and the machine's package list must be as before.
#   Needs root, apt, dpkg-dev, lintian and python3, and none of the four
#   packages installed beforehand.
# windows: for each MinGW-w64 architecture's toolchain file in
#   cmake/toolchains/ (or those in WINDOWS_TOOLCHAINS, space-separated; the
#   part the architectures share is no architecture), a release build in
#   BUILD_DIR-windows-NAME and `cpack -G ZIP`; checks the archive's name,
#   its list of files, its own README.txt and the processor its binaries
#   are for, and builds a C program with Microsoft's ABI (clang, lld-link)
#   against its BMPResizer.lib, which must import BMPResizer from
#   BMPResizer.dll and, under Wine where the build found it, run. Needs
#   clang, lld and llvm.
# static: a release build of the static library (BUILD_SHARED_LIBS=OFF) in
#   BUILD_DIR-static, installed into a new prefix, where C programs link it
#   through find_package and `pkg-config --static` and run
#   (tests/consumers/install_and_consume.sh); then uninstalled.
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

passed=0 failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
check() {  # check "what" command...
  local what=$1
  shift
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
    sed 's/^/    /' "$log"
  fi
}
fail() {  # fail "why": a step the rest depends on went wrong
  failed=$((failed + 1))
  echo "FAILED: $1"
}
step() { echo "== $1 ($((SECONDS - start)) s)"; }
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

deb_packages=("libbmpresizer$major" libbmpresizer-dev bmpresize python3-bmpresizer)
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
  /usr/bin/python3 -c 'import bmpresizer; bmpresizer.enlarge("missing.bmp", "out.bmp", 2)' \
    >stdout.txt 2>stderr.txt
  [ $? -eq 1 ] && [ "$(cat stdout.txt)" = "Could not open missing.bmp." ] &&
    grep -q '^bmpresizer.BMPResizerError: missing.bmp: cannot open' stderr.txt || {
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
  check "cpack made exactly the four packages, version $version-1" \
    test "$(cd "$build/packages" && echo *.deb)" = \
         "bmpresize_$version-1_$arch.deb libbmpresizer-dev_$version-1_$arch.deb libbmpresizer${major}_$version-1_$arch.deb python3-bmpresizer_$version-1_all.deb"
  check "the changelog's newest entry is this version" \
    test "$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)" = "$version-1"
  local deb
  for deb in "${debs[@]}"; do
    echo "-- ${deb##*/}"
    dpkg-deb -f "$deb" Depends | sed 's/^/   Depends: /'
    dpkg-deb -c "$deb" | awk '{ print "   " $1, $6, $7, $8 }'
  done

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
  check "package contents: libbmpresizer-dev has the header, the link, the CMake and pkg-config files" \
    bash -c "$(declare -f owned_by); owned_by libbmpresizer-dev /usr/include/bmpresizer.h &&
      owned_by libbmpresizer-dev $lib/libbmpresizer.so &&
      owned_by libbmpresizer-dev $lib/cmake/bmpresizer/bmpresizerConfig.cmake &&
      owned_by libbmpresizer-dev $lib/pkgconfig/bmpresizer.pc"
  check "package contents: bmpresize has the tool and its manual page" \
    bash -c "$(declare -f owned_by); owned_by bmpresize /usr/bin/bmpresize &&
      owned_by bmpresize /usr/share/man/man1/bmpresize.1.gz"
  local site=/usr/lib/python3/dist-packages
  check "package contents: python3-bmpresizer has the module, byte-compiled on installation" \
    bash -c "$(declare -f owned_by); owned_by python3-bmpresizer $site/bmpresizer/__init__.py &&
      owned_by python3-bmpresizer $site/bmpresizer/__main__.py &&
      ls $site/bmpresizer/__pycache__/__init__.*.pyc"
  # (It may name the folder through /lib, which merged /usr links to usr/lib.)
  check "the library is in the loader's cache" \
    bash -c "ldconfig -p | grep -qE 'libbmpresizer.so.$major .*=> (/usr)?/lib/$triplet/libbmpresizer.so.$major\$'"
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
  # The system's Python, in a folder outside the source tree: the module
  # finds the library through the loader's cache, enlarges as the installed
  # tool does, and raises for a missing input after the library's line.
  rm -rf "$build/python" && mkdir -p "$build/python"
  check "python3 -m bmpresizer and bmpresizer.enlarge, with the installed module and library" \
    use_python_package "$build/python" "$site" "libbmpresizer.so.$major"

  purge
  installed_by_us=0
  after=$(dpkg-query -W -f='${Package}:${Architecture} ${Version} ${Status}\n' | sort)
  check "apt-get purge leaves the machine's packages as they were" \
    diff <(echo "$before") <(echo "$after")
  check "apt-get purge leaves no file and no cache entry" \
    bash -c "test ! -e $lib/bmpresizer -a ! -e $lib/libbmpresizer.so.$major -a ! -e /usr/share/doc/bmpresize &&
      test ! -e $site/bmpresizer -a ! -e /usr/share/doc/python3-bmpresizer &&
      ! ldconfig -p | grep -q libbmpresizer"
}

# microsoft_caller TREE ARCH WORK [WINE]: a C program compiled for Microsoft's
# ABI (clang --target=ARCH-pc-windows-msvc) with the unpacked archive TREE's
# header, and linked by lld-link with TREE's lib/BMPResizer.lib alone (no C
# run-time: the program has its own entry point), imports exactly BMPResizer
# from BMPResizer.dll: undecorated on 32-bit x86 too, as the DLL exports
# the __cdecl function. With WINE, it also runs beside the archive's DLLs
# and enlarges the sample (in a Wine of its own in WORK, stopped afterwards).
microsoft_caller() (
  tree=$1 arch=$2 work=$3 wine=${4:-}
  for tool in clang lld-link llvm-readobj; do
    command -v "$tool" >/dev/null || { echo "no $tool (Debian: clang, lld, llvm)"; exit 1; }
  done
  rm -rf "$work" && mkdir -p "$work/include" || exit 1
  # The header's one system header, wchar.h: there are no Microsoft headers
  # here, and clang's own stddef.h defines wchar_t.
  echo '#include <stddef.h>' >"$work/include/wchar.h"
  printf '%s\n' '#include <bmpresizer.h>' '' \
    '/* No C run-time: the process starts here and exits with what this returns. */' \
    'int start(void) { return BMPResizer(L"in.bmp", L"out.bmp", 2) == BMPRESIZER_SUCCESS ? 0 : 1; }' \
    >"$work/caller.c"
  clang --target="$arch-pc-windows-msvc" -ffreestanding -I"$work/include" -I"$tree/include" \
    -c "$work/caller.c" -o "$work/caller.obj" &&
    lld-link /nologo /nodefaultlib /entry:start /subsystem:console "/out:$work/caller.exe" \
      "$work/caller.obj" "$tree/lib/BMPResizer.lib" || exit 1
  imports=$(llvm-readobj --coff-imports "$work/caller.exe" | sed -n 's/^ *\(Name\|Symbol\): //p')
  if [ "$imports" != "$(printf 'BMPResizer.dll\nBMPResizer (0)')" ]; then
    printf 'the program imports:\n%s\n' "$imports"
    exit 1
  fi
  [ -n "$wine" ] || exit 0
  cp "$tree/bin/BMPResizer.dll" "$tree/bin/app_framework.dll" "$work/" &&
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
  [ "$status" -eq 0 ] && [ "$(stat -c %s out.bmp)" = "$size" ] ||
    { echo "exit status $status; out.bmp: $(stat -c %s out.bmp 2>&1), want $size bytes"; exit 1; }
)

# windows_readme ZIP NAME: the archive's README is the Windows one (not the
# source tree's, which speaks of scripts), with CRLF line ends.
windows_readme() {
  local text
  text=$(unzip -p "$1" "$2") || return 1
  grep -q "^bmpresizer $version for Windows"$'\r'\$ <<<"$text" &&
    ! grep -qv $'\r'\$ <<<"$text" && grep -q 'BMPResizer.lib' <<<"$text" &&
    ! grep -q 'scripts/' <<<"$text"
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
    # package that loads them, what links with them, and the tool where it
    # is built.
    local want=(README.txt LICENSE.txt bin/BMPResizer.dll bin/app_framework.dll
      bin/bmpresizer/__init__.py bin/bmpresizer/__main__.py
      include/bmpresizer.h lib/BMPResizer.lib lib/libBMPResizer.dll.a lib/bmpresizer.def
      lib/cmake/bmpresizer/bmpresizerConfig.cmake lib/cmake/bmpresizer/bmpresizerConfigVersion.cmake
      lib/cmake/bmpresizer/bmpresizerTargets.cmake lib/cmake/bmpresizer/bmpresizerTargets-release.cmake
      lib/pkgconfig/bmpresizer.pc)
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
    if [ -n "$format" ]; then
      rm -rf "$dir/unzipped"
      unzip -q "$zip" -d "$dir/unzipped"
      check "$name: both DLLs are $format" bash -c \
        "file -b '$dir/unzipped/$top/bin/BMPResizer.dll' | grep -qF '$format' &&
         file -b '$dir/unzipped/$top/bin/app_framework.dll' | grep -qF '$format'"
      local wine
      wine=$(sed -n 's/^BMPRESIZER_WINE:FILEPATH=//p' "$dir/CMakeCache.txt")
      wine=${wine%%*NOTFOUND}
      check "$name: a C program of Microsoft's toolchain links with lib/BMPResizer.lib and imports BMPResizer from BMPResizer.dll${wine:+ (and runs under Wine)}" \
        microsoft_caller "$dir/unzipped/$top" "$name" "$dir/microsoft" "$wine"
    fi
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
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
