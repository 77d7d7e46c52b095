#!/usr/bin/env bash
# Builds the image-processing engine's tests under ThreadSanitizer and runs them: the
# engine's worker threads, the band pool and status handshakes are what it checks. Only those tests are
# built, to keep the run short. Usage: scripts/tsan.sh [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
cmake -S . -B build/tsan -G Ninja -DRB_WERROR=ON -DRB_SANITIZE=OFF -DRB_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_C_FLAGS="-fsanitize=thread" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build/tsan -j "$jobs" --target test_threading test_foundation test_pixelproc test_imageproc test_loaders test_manager test_imageproc_endtoend test_app_browser
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# The band pool on its own, the page store the threads share, then the pixel kernels' bands.
build/tsan/tests/Libraries/lib_Threading/test_threading --gtest_brief=1
build/tsan/tests/Libraries/foundation/test_foundation --gtest_brief=1
build/tsan/tests/Libraries/lib_PixelProc2/Src/test_pixelproc --gtest_brief=1
build/tsan/tests/Libraries/lib_ImageProc/Src/test_imageproc --gtest_brief=1
build/tsan/tests/Libraries/lib_ImageProc/Src/loaders/test_loaders --gtest_brief=1
build/tsan/tests/Libraries/lib_ImageProc/Src/manager/test_manager --gtest_brief=1
# The real loaders, retriever and engine together, as the application runs them.
build/tsan/tests/Libraries/lib_ImageProc/Src/endtoend/test_imageproc_endtoend --gtest_brief=1
# The browser's folder scan drives the same pool from its own thread.
build/tsan/tests/app/browser/test_app_browser --gtest_brief=1
