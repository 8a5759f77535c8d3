#!/usr/bin/env bash
# Builds the bmpresize tool if needed and enlarges a picture.
#
#   scripts/run.sh                          the bundled sample, 8 times, into out/sample-x8.bmp
#   scripts/run.sh INPUT OUTPUT FACTOR      your own file
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}
tool="$build_dir/cli/bmpresize"
if [ ! -x "$tool" ]; then
  generator=()
  if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
  # The tool alone needs no test framework.
  cmake -S "$root" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DBMPRESIZER_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --parallel 2 --target bmpresize >/dev/null
fi
if [ $# -eq 0 ]; then
  mkdir -p "$root/out"
  set -- "$root/samples/sample.bmp" "$root/out/sample-x8.bmp" 8
  "$tool" -v "$@"
else
  "$tool" "$@"
fi
