#!/usr/bin/env bash
# Installs a build with `cmake --install` into temporary prefixes and checks what
# a desktop sees of it: the tree, the menu entry (desktop-file-validate), the raw
# file type (xdg-mime), the installed program coming up on a virtual display from
# its menu entry, taking a second start's path and quitting cleanly; a
# prefix that cannot be written (a clear error, nothing installed); and other
# programs' menu entries and types left as they were.
#
#   ./scripts/check-install.sh <build folder>
set -euo pipefail
build=$(cd "${1:?usage: check-install.sh <build folder>}" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
  echo "check-install: $*" >&2
  exit 1
}

# A prefix a careless script would break: spaces, quotes, "%", "$" and non-ASCII.
prefix="$work/Raw bench 'q\"%\$x é"
share="$prefix/share"
mkdir -p "$share/applications" "$share/mime/packages"
# Another program's menu entry and file type, already there.
cat >"$share/applications/other-viewer.desktop" <<'ENTRY'
[Desktop Entry]
Type=Application
Name=Other Viewer
Exec=other-viewer %f
MimeType=application/x-other-thing;
ENTRY
cat >"$share/mime/packages/other-viewer.xml" <<'TYPES'
<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-other-thing"><comment>Other thing</comment><glob pattern="*.othr"/></mime-type>
</mime-info>
TYPES
cp "$share/applications/other-viewer.desktop" "$share/mime/packages/other-viewer.xml" "$work/"

echo "== install into a prefix with spaces, quotes, %, \$ and non-ASCII"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log" >&2
  fail "the install failed"
}

for file in bin/RawbenchSetup libexec/rawbench/Rawbench libexec/rawbench/ui.btb share/applications/rawbench.desktop \
  share/mime/packages/rawbench.xml share/man/man1/rawbench.1; do
  [ -s "$prefix/$file" ] || fail "missing: $file"
done
[ -x "$prefix/bin/RawbenchSetup" ] && [ -x "$prefix/libexec/rawbench/Rawbench" ] || fail "a program is not executable"
[ "$(readlink -f "$prefix/bin/rawbench")" = "$(readlink -f "$prefix/libexec/rawbench/Rawbench")" ] ||
  fail "bin/rawbench does not lead to the program"
for size in 16 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/rawbench.png"
  file -b "$icon" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" || fail "icon $size: $(file -b "$icon")"
done
if [ -d "$repo/app/guide" ]; then
  [ -d "$prefix/libexec/rawbench/guide" ] || fail "the user guide is not installed"
fi
cmp -s "$work/other-viewer.desktop" "$share/applications/other-viewer.desktop" || fail "another program's menu entry changed"
cmp -s "$work/other-viewer.xml" "$share/mime/packages/other-viewer.xml" || fail "another program's type file changed"
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$prefix/share/man/man1/rawbench.1" 2>/dev/null | grep -q "rawbench - browse" ||
    fail "the manual page does not read"
fi
"$prefix/bin/rawbench" --version | grep -q '^Rawbench ' || fail "the installed program does not answer --version"

echo "== the menu entry"
desktop-file-validate "$share/applications/rawbench.desktop"

echo "== the raw file type"
samples="$work/samples"
mkdir -p "$samples"
if maker=$(find "$build" -type f -name rb_make_samples -perm -u+x | head -n 1) && [ -n "$maker" ]; then
  "$maker" "$samples" >/dev/null
fi
raw=$(find "$samples" -name '*.q7f' | head -n 1)
[ -n "$raw" ] || { printf 'BRIb\1\0\2\0' >"$samples/made.q7f" && raw="$samples/made.q7f"; }
head -c 64 "$raw" >"$work/no-extension"
printf "other program data\n" >"$work/thing.othr"
if command -v xdg-mime >/dev/null && command -v gio >/dev/null; then
  for f in "$raw" "$work/no-extension"; do
    type=$(XDG_CURRENT_DESKTOP=GNOME XDG_DATA_HOME="$share" XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$f")
    [ "$type" = image/x-rawbench-raw ] || fail "xdg-mime calls $f \"$type\""
  done
  type=$(XDG_CURRENT_DESKTOP=GNOME XDG_DATA_HOME="$share" XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$work/thing.othr")
  [ "$type" = application/x-other-thing ] || fail "the other program's type was lost (\"$type\")"
else
  echo "xdg-mime or gio is missing: the type query is not checked"
fi

echo "== a prefix whose menu entry belongs to another program"
kept="$work/kept"
mkdir -p "$kept/share/applications"
cp "$work/other-viewer.desktop" "$kept/share/applications/rawbench.desktop"
cmake --install "$build" --prefix "$kept" >"$work/kept.log" 2>&1 || fail "the install over a foreign entry failed"
cmp -s "$work/other-viewer.desktop" "$kept/share/applications/rawbench.desktop" || fail "a foreign entry was replaced"
grep -q "belongs to another program" "$work/kept.log" || fail "the kept entry was not reported"

echo "== a prefix that cannot be written"
locked="$work/locked"
mkdir -p "$locked"
status=0
if [ "$(id -u)" -ne 0 ]; then
  chmod 0555 "$locked"
  cmake --install "$build" --prefix "$locked/usr" >"$work/locked.log" 2>&1 || status=$?
elif unshare -m true 2>/dev/null; then
  # root writes anywhere a permission allows: the prefix is a read-only file system instead.
  unshare -m sh -c 'mount --bind "$1" "$1" && mount -o remount,ro,bind "$1" && exec cmake --install "$2" --prefix "$1/usr"' \
    sh "$locked" "$build" >"$work/locked.log" 2>&1 || status=$?
else
  status=skip
  echo "running as root without mount namespaces: the read-only prefix is not checked"
fi
if [ "$status" != skip ]; then
  [ "$status" -ne 0 ] || fail "an install into a read-only prefix reported success"
  grep -q "cannot be written" "$work/locked.log" || { cat "$work/locked.log" >&2; fail "no clear error for a read-only prefix"; }
  [ -z "$(ls -A "$locked")" ] || fail "a refused install left files behind"
fi

echo "== the installed program on a virtual display, started from its menu entry"
if ! command -v xvfb-run >/dev/null || ! command -v gio >/dev/null || ! command -v xdotool >/dev/null; then
  echo "xvfb-run, gio or xdotool is missing: the start is not checked"
  exit 0
fi
home="$work/home"
mkdir -p "$home/runtime"
chmod 0700 "$home/runtime"
cat >"$work/start.sh" <<'START'
#!/usr/bin/env bash
# Runs inside the virtual display: start, hand over, end.
set -euo pipefail
program=$1 entry=$2 folder=$3 image=$4
find_pid() {
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$program" ] && { basename "$p"; return 0; }
  done
  return 1
}
gio launch "$entry" "$folder"
pid=
for _ in $(seq 1 300); do
  pid=$(find_pid) && xwininfo -root -tree 2>/dev/null | grep -q '"Rawbench"' && break
  pid=
  sleep 0.1
done
[ -n "$pid" ] || { echo "Rawbench did not come up from its menu entry" >&2; exit 1; }
# A second start hands its image to the running one and ends at once.
timeout 20 "$(dirname "$entry")/../../bin/rawbench" "$image" || { echo "the second start failed" >&2; exit 1; }
[ "$(find_pid)" = "$pid" ] || { echo "the running Rawbench did not survive a second start" >&2; exit 1; }
# Quit as a user does, with the main window's key: the state is written on the way out.
window=$(xdotool search --onlyvisible --name '^Rawbench$' | head -n 1)
[ -n "$window" ] || { echo "no main window titled Rawbench" >&2; exit 1; }
xdotool windowfocus --sync "$window" key ctrl+q
for _ in $(seq 1 100); do
  [ -d "/proc/$pid" ] || exit 0
  sleep 0.1
done
echo "Rawbench did not end within 10 s of Ctrl+Q" >&2
kill -KILL "$pid"
exit 1
START
chmod +x "$work/start.sh"
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$share" XDG_CACHE_HOME="$home/.cache" \
  XDG_RUNTIME_DIR="$home/runtime" XDG_DATA_DIRS=/usr/share \
  xvfb-run -a -s "-screen 0 1920x1080x24" "$work/start.sh" \
  "$(readlink -f "$prefix/libexec/rawbench/Rawbench")" "$share/applications/rawbench.desktop" "$samples" "$raw"
[ -s "$home/.config/Rawbench/Rawbench.state.xml" ] || fail "Rawbench ended without writing its state: not a clean end"
echo "check-install: all good"
