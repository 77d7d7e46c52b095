#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRB_WERROR=OFF -DRB_TESTS=OFF -DRB_BENCH=OFF
cmake --build build/release -j "$(nproc)"
if [ -x build/release/app/Rawbench ]; then
  exec build/release/app/Rawbench "$@"
fi
echo "The application itself is not built yet: the libraries above were built; run scripts/test.sh to test them."
