#!/usr/bin/env bash
# The page in a real browser: installs what it needs (clang's wasm32-wasi
# target and its libraries, binaryen, Debian's Chromium, Node.js where it is
# missing, and the test driver pinned in web/tests/package-lock.json),
# builds the engine for the browser with warnings as errors and the native
# tool as the oracle, and runs web/tests/run.mjs against web/ served on
# 127.0.0.1. A failure prints what the browser's console said.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
step() { echo "== web: $1 ($((SECONDS - start)) s)"; }

step "packages"
if command -v apt-get >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  packages=(cmake ninja-build g++ clang lld wasi-libc libclang-rt-14-dev-wasm32
    libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 binaryen chromium)
  # Node.js may come from elsewhere; Debian's is the fallback.
  if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    packages+=(nodejs npm)
  fi
  # A mirror caught mid-update fails now and then: once more, then the lists there are.
  apt-get update -qq || { sleep 10; apt-get update -qq; } ||
    echo "web: apt-get update failed; installing from the package lists already here"
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${packages[@]}" >/dev/null
fi

step "the engine in WebAssembly (warnings as errors)"
BMPRESIZER_WERROR=1 WASM_BUILD_DIR="$PWD/build-ci-wasm" scripts/web.sh --build

step "the native tool, whose outputs the browser's must match"
tool=build-ci/cli/bmpresize
if [ ! -x "$tool" ]; then
  tool=build-ci-web/cli/bmpresize
  cmake -S . -B build-ci-web -G Ninja -DCMAKE_BUILD_TYPE=Release -DBMPRESIZER_BUILD_TESTS=OFF \
    -DBMPRESIZER_BUILD_EXAMPLES=OFF -DBMPRESIZER_INSTALL=OFF >/dev/null
  cmake --build build-ci-web --parallel 2 --target bmpresize >/dev/null
fi

step "the test driver (npm ci)"
(cd web/tests && npm ci --no-audit --no-fund --loglevel=error)

step "the page and bmpresize.js in Chromium"
node web/tests/run.mjs --tool "$tool" --chromium /usr/bin/chromium
step "done"
