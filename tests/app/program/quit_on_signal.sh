#!/bin/sh
# Rawbench on a display ends as Quit does when the session sends SIGTERM (logout) or the
# terminal SIGINT (Ctrl+C): within 2 s, with its state file written.
#   quit_on_signal.sh <Rawbench> <work folder> <TERM|INT>
set -u
exe="$1"
work="$2"
signal="$3"
rm -rf "$work"
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" "$exe" >"$work/out" 2>&1 &
pid=$!
# Running once its main window is on the display (a loaded machine takes seconds).
i=0
while [ $i -lt 300 ] && ! xwininfo -root -tree 2>/dev/null | grep -q '"Rawbench"'; do
  sleep 0.1
  i=$((i + 1))
done
# ...and has settled: under a tenth of a processor over half a second (its idle loop ticks).
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0; }
last=$(cpu)
i=0
while [ $i -lt 60 ]; do
  sleep 0.5
  now=$(cpu)
  [ $((now - last)) -le 5 ] && break
  last=$now
  i=$((i + 1))
done
if ! kill -0 "$pid" 2>/dev/null; then
  echo "Rawbench did not start:"; cat "$work/out"; exit 1
fi
state="$work/config/Rawbench/Rawbench.state.xml"
rm -f "$state"
kill -"$signal" "$pid"
i=0
while [ $i -lt 20 ] && kill -0 "$pid" 2>/dev/null; do
  sleep 0.1
  i=$((i + 1))
done
if kill -0 "$pid" 2>/dev/null; then
  echo "Rawbench still runs 2 s after SIG$signal"
  kill -KILL "$pid"
  exit 1
fi
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { echo "exit status $status"; cat "$work/out"; exit 1; }
iconv -f UTF-16 -t UTF-8 "$state" 2>/dev/null | grep -q "PERDATA" || { echo "no state written"; exit 1; }
echo "ended within $((i * 100)) ms with its state written"
