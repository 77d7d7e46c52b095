#!/usr/bin/env bash
# Installs what is missing, builds Rawbench and starts it on a folder of sample
# images made for the purpose (or on the folder or image given).
#
#   ./scripts/run.sh [folder or image]
#
# A relative path is taken from the folder the command was called in. Exits with
# 2 when the path does not exist, and with 1 after building when there is no
# display to show Rawbench on. Set RB_JOBS to limit the number of parallel build
# jobs; RB_WERROR=ON builds with warnings as errors, as CI does.
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."
repo=$PWD

# Paths are resolved before anything else, so that a mistyped one is reported at once.
given=()
for arg in "$@"; do
  case "$arg" in
  -*) given+=("$arg") ;;
  /*) given+=("$arg") ;;
  *) given+=("$caller/$arg") ;;
  esac
done
for arg in "${given[@]}"; do
  case "$arg" in
  -*) continue ;;
  esac
  if [ ! -e "$arg" ]; then
    echo "run.sh: \"$arg\" does not exist; give a folder or an image to open, or nothing for the samples." >&2
    exit 2
  fi
done

./scripts/setup.sh

jobs="${RB_JOBS:-$(nproc)}"
build=build/release
# The sample maker uses the tests' fixture writers, so the tests are configured;
# only the program and the sample maker are built.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRB_WERROR="${RB_WERROR:-OFF}" -DRB_TESTS=ON -DRB_BENCH=OFF
cmake --build "$build" -j "$jobs" --target Rawbench rb_make_samples

samples=build/samples
if [ ${#given[@]} -eq 0 ]; then
  if [ ! -f "$samples/.complete" ]; then
    echo "Making the sample images in $samples ..."
    rm -rf "$samples"
    mkdir -p "$samples"
    "$build/tools/samples/rb_make_samples" "$samples"
  fi
  given=("$repo/$samples")
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shown=$(printf ' %q' "${given[@]}")
  cat >&2 <<MSG
Rawbench is built ($build/app/Rawbench) but there is no display to show it on.
On a machine without a screen, run it under a virtual one:

  xvfb-run -a -s "-screen 0 1920x1080x24" $repo/scripts/run.sh$shown

MSG
  exit 1
fi
echo "Opening ${given[*]}"
exec "$build/app/Rawbench" "${given[@]}"
