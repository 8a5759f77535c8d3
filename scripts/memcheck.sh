#!/usr/bin/env bash
# Runs every GoogleTest binary of a built tree under valgrind memcheck; any
# error (invalid access, use of uninitialised memory, definite leak) fails.
#
#   scripts/memcheck.sh BUILD_DIR
set -euo pipefail
build_dir=${1:?usage: scripts/memcheck.sh BUILD_DIR}
# resources_test replaces malloc itself; the 1.3 GB test takes minutes
# under valgrind without checking anything the smaller ones don't.
skip_binaries='resources_test'
filter='-*StreamsAPixelWiderThanTheBuffer*'
# The property test draws as many cases as 20 MiB of output take.
export BMPRESIZER_PROPERTY_MIB=20
passed=0 failed=0
for binary in "$build_dir"/tests/*_test; do
  name=$(basename "$binary")
  [[ " $skip_binaries " == *" $name "* ]] && continue
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      "$binary" --gtest_filter="$filter" --gtest_brief=1 >"$build_dir/memcheck-$name.log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "memcheck FAILED: $name"
    tail -n 40 "$build_dir/memcheck-$name.log"
  fi
done
echo "memcheck: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
