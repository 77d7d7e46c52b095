#!/usr/bin/env bash
# The run command as a newcomer meets it, in a fresh copy of the tree (the files
# git would check out, uncommitted ones included, without any build): without a
# display it builds in Release with warnings as errors, makes the samples and
# exits with 1; a path relative to the caller's folder is found; a missing path
# ends with 2. Then the installer is built in the same tree and the install is
# checked (scripts/check-install.sh).
#
#   ./scripts/check-fresh-clone.sh [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clone="$work/rawbench"
mkdir -p "$clone"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
  done | tar --null -T - -cf - | tar -C "$clone" -xf -
else
  # A tree outside git: everything but what builds make.
  tar --exclude=./build --exclude='./build-*' --exclude=./.cache -cf - . | tar -C "$clone" -xf -
fi

# Compiler cache entries are shared with earlier fresh copies, wherever they lay.
export CCACHE_BASEDIR=$clone CCACHE_NOHASHDIR=true RB_JOBS=$jobs RB_WERROR=ON
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY)

echo "== run.sh in a fresh copy, without a display"
status=0
(cd "$clone" && "${nodisplay[@]}" ./scripts/run.sh) >"$work/run.log" 2>&1 || status=$?
if [ "$status" -ne 1 ] || ! grep -q "no display to show it on" "$work/run.log"; then
  tail -n 40 "$work/run.log" >&2
  echo "check-fresh-clone: run.sh ended with $status, not with 1 and its note" >&2
  exit 1
fi
[ -f "$clone/build/samples/.complete" ] && [ -n "$(find "$clone/build/samples" -name '*.q7f' | head -n 1)" ] || {
  echo "check-fresh-clone: run.sh did not make the samples" >&2
  exit 1
}

echo "== run.sh with a path relative to the caller, and with one that does not exist"
status=0
(cd "$clone/build" && "${nodisplay[@]}" ../scripts/run.sh samples) >"$work/relative.log" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -qF "run.sh $(printf '%q' "$clone/build/samples")" "$work/relative.log" || {
  cat "$work/relative.log" >&2
  echo "check-fresh-clone: a relative path was not taken from the caller's folder ($status)" >&2
  exit 1
}
status=0
(cd "$clone/build" && "${nodisplay[@]}" ../scripts/run.sh no-such-folder) >"$work/missing.log" 2>&1 || status=$?
[ "$status" -eq 2 ] && grep -q "no-such-folder\" does not exist" "$work/missing.log" || {
  cat "$work/missing.log" >&2
  echo "check-fresh-clone: a missing path was not reported ($status)" >&2
  exit 1
}

echo "== the installer and the install, from the same Release build"
cmake --build "$clone/build/release" -j "$jobs" --target RawbenchSetup rb_app_icons >/dev/null
./scripts/check-install.sh "$clone/build/release"
