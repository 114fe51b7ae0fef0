#!/usr/bin/env bash
# Installs what is needed, builds with the sanitizers and warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${QUARVEL_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARVEL_SANITIZE=ON -DQUARVEL_WERROR=ON \
  -DQUARVEL_TESTS=ON -DQUARVEL_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
