#!/usr/bin/env bash
# Fuzzes one target with clang's libFuzzer, starting from its seed corpus.
#   scripts/fuzz.sh <name> [seconds]
# New inputs go to build/fuzz/corpus-<name>; copy a crash into fuzz/<name>/corpus
# so that CI replays it for ever.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/fuzz.sh <name> [seconds]}
seconds=${2:-60}
./scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DRB_FUZZ_LIBFUZZER=ON -DRB_WERROR=OFF \
  -DRB_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined"
cmake --build build/fuzz --target "fuzz_$name"
work=build/fuzz/corpus-$name
mkdir -p "$work"
exe=$(find build/fuzz/fuzz -name "fuzz_$name" -type f -executable | head -1)
"$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$work" "fuzz/$name/corpus"
