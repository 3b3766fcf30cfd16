#!/bin/sh
# The desktop program started with a workbook on its command line (the desktop's "Open
# With"), on the offscreen platform: it opens it at once, as File > Open would, and writes
# the data echo beside it.
#   opens_named_workbook.sh PROGRAM WORKBOOK
set -eu
program=$1
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$2" "$work/trial.csv"
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen "$program" "$work/trial.csv" >"$work/log" 2>&1 &
pid=$!
for _ in $(seq 200); do
  [ -s "$work/tmp.txt" ] && break
  sleep 0.1
done
if ! grep -q "The data can be analyzed with the following model" "$work/tmp.txt" 2>/dev/null; then
  echo "no data echo beside the workbook named on the command line" >&2
  cat "$work/log" >&2
  exit 1
fi
echo "opened"
