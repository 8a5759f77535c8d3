#!/usr/bin/env bash
# Builds the engine for the browser into web/ and serves the page there.
#
#   scripts/web.sh              build, then serve web/ on http://127.0.0.1:8030/
#   scripts/web.sh --build      build only (web/ is then ready for any static host)
#   PORT=9000 scripts/web.sh    another port
#
# Needs clang, lld, wasi-libc, libclang-rt-14-dev-wasm32 and
# libc++-14-dev-wasm32; binaryen (wasm-opt) adds bmpresize-asyncify.wasm,
# which browsers without JavaScript promise integration use.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${WASM_BUILD_DIR:-$root/build-wasm}
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    --toolchain "$root/cmake/toolchains/wasm32-wasi.cmake" ${BMPRESIZER_WERROR:+-DBMPRESIZER_WERROR=ON} >/dev/null
fi
cmake --build "$build_dir" --parallel 2 >/dev/null
cp "$build_dir/platform/wasm/bmpresize.wasm" "$root/web/bmpresize.wasm"
if command -v wasm-opt >/dev/null 2>&1; then
  # The engine's call, unwound and rewound around the imports that wait.
  wasm-opt -O2 --asyncify \
    --pass-arg=asyncify-imports@bmpresize_web.read_at,bmpresize_web.write \
    "$root/web/bmpresize.wasm" -o "$root/web/bmpresize-asyncify.wasm"
else
  echo "web.sh: no wasm-opt (Debian's binaryen): browsers without promise integration get no engine" >&2
  rm -f "$root/web/bmpresize-asyncify.wasm"
fi
if [ "${1:-}" = "--build" ]; then
  exit 0
fi
port=${PORT:-8030}
echo "bmpresize: http://127.0.0.1:$port/ (Ctrl-C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$root/web"
