#!/usr/bin/env bash
# Builds the project with warnings as errors and runs every test.
#
#   scripts/test.sh [EXTRA CMAKE ARGUMENTS...]
#
# BUILD_DIR picks the build folder (default: build). Extra arguments go to
# CMake's configure step, e.g. -DBMPRESIZER_SANITIZE=address,undefined.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" "${generator[@]}" -DBMPRESIZER_WERROR=ON -DBMPRESIZER_BUILD_TESTS=ON "$@"
else
  cmake -S . -B "$build_dir" -DBMPRESIZER_WERROR=ON -DBMPRESIZER_BUILD_TESTS=ON "$@" >/dev/null
fi
cmake --build "$build_dir" --parallel 2
ctest --test-dir "$build_dir" --parallel 2 --output-on-failure
