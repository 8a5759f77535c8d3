#!/usr/bin/env bash
# The ARM suites: cross-builds for armhf (32-bit ARMv7) and aarch64 with
# warnings as errors and runs every test under qemu-user. Installs nothing:
# needs g++-arm-linux-gnueabihf, g++-aarch64-linux-gnu, qemu-user and
# googletest (or libgtest-dev) for /usr/src/googletest.
set -euo pipefail
cd "$(dirname "$0")/.."

for target in armhf aarch64; do
  echo "== cross-build and test for $target (under qemu-user, warnings as errors)"
  start=$SECONDS
  BUILD_DIR=build-ci-$target scripts/test-cross.sh "$target"
  echo "== $target: $((SECONDS - start)) s"
done
