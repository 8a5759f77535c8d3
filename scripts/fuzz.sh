#!/usr/bin/env bash
# Builds the fuzz target with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer), replays the committed seeds and regressions, and the BMP
# Suite's files for both kinds, then fuzzes with a dictionary of the
# format's tokens.
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
mkdir -p build-fuzz/corpus build-fuzz/artifacts build-fuzz/suite
# Each suite file twice: a first byte for the library's kind (factor 2) and
# one for the tool's (factor 3).
for file in tests/data/bmpsuite/*/*.bmp; do
  name=$(basename "$file")
  { printf '\001'; cat "$file"; } > "build-fuzz/suite/classic-$name"
  { printf '\202'; cat "$file"; } > "build-fuzz/suite/any-$name"
done
echo "== replay: seeds, regressions and the suite"
"$fuzzer" -runs=0 fuzz/corpus fuzz/regressions build-fuzz/suite
echo "== fuzz for $seconds s"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -dict=fuzz/bmp.dict -artifact_prefix=build-fuzz/artifacts/ build-fuzz/corpus fuzz/corpus \
  build-fuzz/suite 2>&1 | tail -n 12
