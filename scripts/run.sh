#!/usr/bin/env bash
# Installs what is missing, builds Rawbench and starts it on a folder of sample
# images made for the purpose (or on the arguments given).
#
#   ./scripts/run.sh [folder or image]
#
# Set RB_JOBS to limit the number of parallel build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

given=("$@")
jobs="${RB_JOBS:-$(nproc)}"
build=build/release
# The sample maker uses the tests' fixture writers, so the tests are configured;
# only the program and the sample maker are built.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRB_WERROR=OFF -DRB_TESTS=ON -DRB_BENCH=OFF
cmake --build "$build" -j "$jobs" --target Rawbench

samples=build/samples
if [ $# -eq 0 ]; then
  if cmake --build "$build" --target help | grep -q '^rb_make_samples:'; then
    cmake --build "$build" -j "$jobs" --target rb_make_samples
    if [ ! -f "$samples/.complete" ]; then
      echo "Making the sample images in $samples ..."
      rm -rf "$samples"
      mkdir -p "$samples"
      "$(find "$build" -type f -name rb_make_samples -perm -u+x | head -n 1)" "$samples"
    fi
  else
    echo "The sample maker is not part of this tree yet; Rawbench opens on an empty folder." >&2
    mkdir -p "$samples"
  fi
  set -- "$(cd "$samples" && pwd)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
Rawbench is built ($build/app/Rawbench) but there is no display to show it on.
On a machine without a screen, run it under a virtual one:

  xvfb-run -a -s "-screen 0 1920x1080x24" ./scripts/run.sh ${given[*]:-}

MSG
  exit 1
fi
exec "$build/app/Rawbench" "$@"
