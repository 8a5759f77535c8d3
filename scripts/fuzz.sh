#!/usr/bin/env bash
# Builds the fuzz target with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer), replays the committed seeds and regressions, then fuzzes.
#
#   scripts/fuzz.sh [SECONDS]     (default 60; new inputs go to build-fuzz/corpus)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBMPRESIZER_BUILD_FUZZERS=ON -DBMPRESIZER_SANITIZE=address,undefined \
  -DBMPRESIZER_BUILD_TESTS=OFF -DBMPRESIZER_BUILD_EXAMPLES=OFF -DBMPRESIZER_BUILD_TOOL=OFF \
  -DBMPRESIZER_INSTALL=OFF >/dev/null
cmake --build build-fuzz --parallel 2
fuzzer=build-fuzz/fuzz/fuzz_resize
mkdir -p build-fuzz/corpus build-fuzz/artifacts
echo "== replay: seeds and regressions"
"$fuzzer" -runs=0 fuzz/corpus fuzz/regressions
echo "== fuzz for $seconds s"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/ build-fuzz/corpus fuzz/corpus 2>&1 | tail -n 12
