#!/usr/bin/env bash
# Fuzzes with clang's libFuzzer, starting from the seed corpora.
#   scripts/fuzz.sh <name> [seconds]   one target, for as long as asked (60 s)
#   scripts/fuzz.sh --smoke [seconds]  every target built and run over its seed corpus, so that all stay built
# New inputs go to build/fuzz/corpus-<name>; copy a crash into fuzz/<name>/corpus
# so that CI replays it for ever.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/fuzz.sh <name>|--smoke [seconds]}
./scripts/setup.sh
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DRB_FUZZ_LIBFUZZER=ON -DRB_WERROR=OFF \
  -DRB_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null

if [ "$name" = --smoke ]; then
  seconds=${2:-4}
  names=()
  for folder in fuzz/*/; do
    [ -f "$folder/CMakeLists.txt" ] && names+=("$(basename "$folder")")
  done
else
  seconds=${2:-60}
  names=("$name")
fi
cmake --build build/fuzz -j "${RB_FUZZ_JOBS:-$(nproc)}" --target "${names[@]/#/fuzz_}"

# Undefined behaviour stops a run as a crash does. The font library keeps allocations
# for the life of the process; only its leaks are suppressed.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan-suppressions.txt
for target in "${names[@]}"; do
  echo "-- fuzz_$target, $seconds s"
  work=build/fuzz/corpus-$target
  mkdir -p "$work"
  exe=$(find build/fuzz/fuzz -name "fuzz_$target" -type f -executable | head -1)
  run=("$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$work" "fuzz/$target/corpus")
  # A smoke run proves the target builds and runs its seeds; mutating there would make CI
  # depend on what a few seconds of luck find (slow inputs belong to a real fuzzing run).
  [ "$name" = --smoke ] && run+=(-runs=0)
  if [ "$name" != --smoke ]; then
    "${run[@]}"
  elif ! "${run[@]}" >"$work.log" 2>&1; then
    # A smoke run shows only what went wrong.
    tail -n 60 "$work.log"
    exit 1
  fi
done
