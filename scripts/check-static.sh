#!/usr/bin/env bash
# Static checks of the project's own code: clang-format, clang-tidy (with the
# checked-in .clang-tidy) and cppcheck. Exits non-zero on any finding.
#
#   scripts/check-static.sh [BUILD_DIR]   (a configured build, for compile commands)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-static}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

echo "== clang-format"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== clang-tidy"
# The sources the native build compiles (platform-specific files of other
# targets are not in its compile commands).
mapfile -t sources < <(git ls-files 'src/*.cpp' 'cli/*.cpp' | while read -r f; do
  grep -q "\"file\": \"$PWD/$f\"" "$build_dir/compile_commands.json" && echo "$f"; done)
clang-tidy -p "$build_dir" --quiet --extra-arg=-std=c++17 "${sources[@]}"

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++17 --error-exitcode=1 --quiet \
  --inline-suppr -I"$build_dir/include" -Isrc/resize -Isrc/resize/core -Isrc/resize/files -Isrc/resize/interface -Icli "${sources[@]}"
echo "static checks passed"
