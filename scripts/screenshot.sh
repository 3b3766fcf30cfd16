#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots/ from the real desktop program, run on a
# virtual X server:
#
#   scripts/screenshot.sh [BUILD_DIR]      (default: build; the program is built if missing)
#
# It drives the program as a user would, through its keys: Ctrl+O, then the workbook's path
# typed into the Open dialog; Alt+A and the arrow keys for the Model entry; Page Down to
# scroll. No hidden option is needed. Shots:
#   echo.png     the data echo of examples/nested_design.xls
#   menu.png     the Ananlysis menu open on Model 3
#   report.png   the top of the report after Model 3
#   random.png   the report scrolled to the random-model section
#   charts.png   the Charts tab beside that report: the males of the first trait
#   chart-males.png, chart-variance.png, chart-correlations.png
#                each chart as File > Save Chart As... writes it (PNG, twice the pixels)
#   wait.png     "Please wait" during a large run (only when the 10,000-row test workbook
#                tests/data/xls/fixtures/nested_10000.lo.xls is in the tree)
#   about.png    the About box
# Installs Xvfb, xauth, xdotool and ImageMagick with apt-get when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
program=$root/$build/app/qt/quorvel
shots=$root/docs/screenshots

missing=()
for pair in Xvfb:xvfb xauth:xauth xdotool:xdotool import:imagemagick; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || missing+=("${pair#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[ -x "$program" ] || cmake --build "$build" --target quorvel

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  set +e
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A virtual screen on the first free display number.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"

# The program, with its settings kept in the scratch folder.
cp examples/nested_design.xls "$work/"
XDG_CONFIG_HOME="$work/config" "$program" -qwindowgeometry 1180x820+0+0 >"$work/quorvel.log" 2>&1 &
app_pid=$!
window=$(xdotool search --sync --onlyvisible --name '^Untitled - Quorvel$' | head -1)
sleep 1

# Without a window manager the keyboard focus has to be given to the window by hand,
# again after every dialog has closed.
focus_main() { xdotool windowfocus --sync "$window"; }

# The shot covers the main window's area of the screen, so menus and dialogs on top of it
# are in the picture.
shot() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$1.png"
  echo "wrote docs/screenshots/$1.png"
}
# Waits until the file exists and is newer than the marker.
wait_for_newer() {
  for _ in $(seq 600); do [ "$1" -nt "$2" ] && return 0; sleep 0.05; done
  echo "screenshot.sh: $1 did not appear" >&2
  return 1
}
# Opens a workbook through the Open dialog.
open_workbook() {
  focus_main
  xdotool key --clearmodifiers ctrl+o
  sleep 1  # the dialog takes the focus and puts it into its file name field
  xdotool type --delay 5 "$1"
  xdotool key Return
}
# Chooses Ananlysis > Model N with the keyboard.
choose_model() {
  focus_main
  xdotool key --clearmodifiers alt+a
  sleep 0.4
  for _ in $(seq $(($1 - 1))); do xdotool key Down; done
  sleep 0.3
}

touch "$work/marker"
open_workbook "$work/nested_design.xls"
wait_for_newer "$work/tmp.txt" "$work/marker"
sleep 0.8
shot echo

choose_model 3
shot menu
touch "$work/marker"
xdotool key Return
wait_for_newer "$work/result.txt" "$work/marker"
sleep 2  # the report shows at the next tick; the scroll bars fit it a second later
shot report

# Page Down until the random-model box is near the top of the view.
box=$(grep -n 'Result for the random effect model' "$work/result.txt" | head -1 | cut -d: -f1)
eval "$(xdotool getwindowgeometry --shell "$window")"
lines_per_page=$(( (HEIGHT - 110) / 20 ))
focus_main
for _ in $(seq $(( (box - 3) / lines_per_page ))); do xdotool key Next; sleep 0.05; done
sleep 0.5
shot random
# Back to the top: "Please wait" is drawn at the centre of the unscrolled area.
for _ in $(seq 40); do xdotool key Prior; done

# The charts beside the report: Alt+C shows them, Alt+M, Alt+V and Alt+O choose the chart,
# and each is saved through File > Save Chart As... (Alt+F, H) into the folder of shots.
save_chart() {
  rm -f "$shots/$1"
  focus_main
  xdotool key --clearmodifiers alt+f
  sleep 0.4
  xdotool key h
  sleep 1  # the dialog takes the focus and puts it into its file name field
  xdotool type --delay 5 "$shots/$1"
  xdotool key Return
  for _ in $(seq 100); do [ -s "$shots/$1" ] && break; sleep 0.05; done
  [ -s "$shots/$1" ] || { echo "screenshot.sh: $1 was not saved" >&2; return 1; }
  echo "wrote docs/screenshots/$1"
}
focus_main
xdotool key --clearmodifiers alt+c
sleep 0.8
shot charts
save_chart chart-males.png
focus_main
xdotool key --clearmodifiers alt+v
sleep 0.5
save_chart chart-variance.png
focus_main
xdotool key --clearmodifiers alt+o
sleep 0.5
save_chart chart-correlations.png
focus_main
xdotool key --clearmodifiers alt+r
sleep 0.5

large=$root/tests/data/xls/fixtures/nested_10000.lo.xls
if [ -f "$large" ]; then
  cp "$large" "$work/large.xls"
  touch "$work/marker"
  open_workbook "$work/large.xls"
  wait_for_newer "$work/tmp.txt" "$work/marker"
  sleep 0.5
  for _ in $(seq 40); do xdotool key Prior; done
  choose_model 3
  touch "$work/marker"
  xdotool key Return
  sleep 0.15  # the run takes about a quarter of a second
  shot wait
  wait_for_newer "$work/result.txt" "$work/marker"
  sleep 2
fi

focus_main
xdotool key --clearmodifiers alt+h
sleep 0.4
xdotool key Down Return
sleep 1
shot about
xdotool key Return
