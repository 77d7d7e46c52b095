#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program. Until the application exists,
# it develops a generated synthetic raw file end to end without a user interface and
# prints where the JPEG and TIFF went and how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
if [ -f app/CMakeLists.txt ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRB_WERROR=OFF -DRB_TESTS=OFF -DRB_BENCH=OFF
  cmake --build build/release -j "$(nproc)"
  if [ -x build/release/app/Rawbench ]; then
    exec build/release/app/Rawbench "$@"
  fi
fi
# The development tool builds its input with the tests' fixture builders, so this build
# has the test support libraries configured; only the tool itself is built.
cmake -S . -B build/develop -G Ninja -DCMAKE_BUILD_TYPE=Release -DRB_WERROR=OFF -DRB_TESTS=ON -DRB_BENCH=OFF
cmake --build build/develop -j "$(nproc)" --target rb_develop
echo "The application itself is not built yet. Developing a generated test raw file instead:"
exec build/develop/tools/develop/rb_develop "$@"
