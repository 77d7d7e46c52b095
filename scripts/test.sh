#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: once as
# shipped (warnings are errors), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, then replays every fuzz corpus under them, then runs the
# engine's threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc)
# Clones in other folders share the compiler cache.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
./scripts/check-format.sh

echo "== build and test"
cmake -S . -B build/test -G Ninja -DRB_WERROR=ON -DRB_SANITIZE=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g0" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g0"
cmake --build build/test -j "$jobs"
ctest --test-dir build/test -j "$jobs" -LE xvfb --output-on-failure --no-tests=error

echo "== the run command in a fresh copy (Release, -O3, warnings are errors), RawbenchSetup, and the install"
./scripts/check-fresh-clone.sh "$jobs"
# A packager builds without the tests: that configuration must stand on its own.
cmake -S . -B build/release-package -G Ninja -DRB_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DRB_TESTS=OFF -DRB_BENCH=OFF >/dev/null

echo "== tests on a real display (Xvfb): windows, menus, input, clipboard, screenshot"
xvfb-run -a ctest --test-dir build/test -j "$jobs" -L xvfb --output-on-failure --no-tests=error

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DRB_WERROR=ON -DRB_SANITIZE=ON -DRB_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
cmake --build build/asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan -j "$jobs" -LE 'fuzz|xvfb' --output-on-failure --no-tests=error

echo "== display tests under the sanitizers (Xvfb; leak checks off: the display libraries keep their own)"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
  xvfb-run -a ctest --test-dir build/asan -j "$jobs" -L xvfb --output-on-failure --no-tests=error

echo "== fuzz corpora replayed under the sanitizers"
ctest --test-dir build/asan -j "$jobs" -L fuzz --output-on-failure --no-tests=ignore

echo "== libFuzzer: every target built with clang and run briefly from its seed corpus"
RB_FUZZ_JOBS=$jobs ./scripts/fuzz.sh --smoke 4

echo "== engine tests under ThreadSanitizer"
./scripts/tsan.sh "$jobs"
