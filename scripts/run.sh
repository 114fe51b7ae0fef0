#!/usr/bin/env bash
# Installs what is needed, builds Quarvel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
exec build/app/quarvel "$@"
