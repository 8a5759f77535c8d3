#!/usr/bin/env bash
# Cross-builds the library, the tool and the tests for an ARM target with
# warnings as errors, and runs every test under qemu-user.
#
#   scripts/test-cross.sh armhf|aarch64 [EXTRA CMAKE ARGUMENTS...]
#
# Needs Debian's g++-arm-linux-gnueabihf (armhf) or g++-aarch64-linux-gnu
# (aarch64), qemu-user and GoogleTest's sources in /usr/src/googletest
# (googletest or libgtest-dev). BUILD_DIR picks the build folder (default:
# build-TARGET).
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-}
case "$target" in
  armhf) triple=arm-linux-gnueabihf qemu=qemu-arm ;;
  aarch64) triple=aarch64-linux-gnu qemu=qemu-aarch64 ;;
  *)
    echo "usage: $0 armhf|aarch64 [EXTRA CMAKE ARGUMENTS...]" >&2
    exit 2
    ;;
esac
shift

# Missing tools are named up front rather than left to a failing configure.
missing=()
command -v "$triple-g++" >/dev/null 2>&1 || missing+=("$triple-g++ (Debian: g++-$triple)")
command -v "$qemu" >/dev/null 2>&1 || missing+=("$qemu (Debian: qemu-user)")
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=("/usr/src/googletest (Debian: googletest)")
if [ ${#missing[@]} -gt 0 ]; then
  printf '%s: missing %s\n' "$0" "${missing[@]}" >&2
  exit 1
fi

build_dir=${BUILD_DIR:-build-$target}
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" "${generator[@]}" \
    --toolchain "$PWD/cmake/toolchains/$target.cmake" -DBMPRESIZER_WERROR=ON "$@"
else
  cmake -S . -B "$build_dir" -DBMPRESIZER_WERROR=ON "$@" >/dev/null
fi
cmake --build "$build_dir" --parallel 2
# The timeout stops a test that hangs under the emulator; the slowest one
# takes about half a minute there.
ctest --test-dir "$build_dir" --parallel 2 --output-on-failure --timeout 300
