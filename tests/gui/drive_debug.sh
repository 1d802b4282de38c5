#!/usr/bin/env bash
# Drives the debugger in the real executable from outside, under Xvfb:
# `mirtolan FILE` opens FILE, Ctrl+F8 sets a breakpoint on the cursor's
# line, Shift+F9 starts debugging and stops there, F11 steps into the word
# called, Shift+F11 steps back out, and with the breakpoint taken away
# Shift+F9 continues to the end. What the Debug pane shows at each stop is
# copied (Ctrl+A, Ctrl+C in the call chain or the variables) and pasted at
# the end of the source, which Ctrl+S saves for the script to read.
set -euo pipefail
usage="usage: drive_debug.sh path/to/mirtolan share/mirtolan"
lib=$(realpath "$(dirname "$0")/drive_lib.sh")
source "$lib"
drive_setup "${1:?$usage}"
cp -r "${2:?$usage}/." "$work/share/mirtolan/" # the whole run-time
printf 'VARIABLE count\n: bump ( -- )\n  count C@ 1+\n  count C! ;\n: main\n  3 0 DO\n    bump\n  LOOP\n  count C@ ;\n' \
  > "$work/src/count.4th"
# A known size, so that the panes lie where the clicks below expect them.
printf '[FormPosi]\r\nTop=0\r\nLeft=0\r\nWidth=1000\r\nHeight=700\r\n[Build]\r\nDevice=atmega328p\r\n' > "$work/bin/mirtolan.INI"

cat > "$work/inside.sh" <<'INNER'
set -euo pipefail
work=$1
source "$2"
src="$work/src/count.4th"
cd "$work/cwd"
unset QT_QPA_PLATFORM
"$work/bin/mirtolan" "$src" &
pid=$!
fail() { echo "$*"; echo "the source is:"; cat "$src"; kill "$pid" 2>/dev/null; exit 1; }
wid=$(timeout 30 xdotool search --sync --name 'count\.4th')
wid=${wid%%$'\n'*}
xdotool windowfocus --sync "$wid"
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$wid")"
click() { xdotool mousemove --window "$wid" $((WIDTH * $1 / 100)) $((HEIGHT * $2 / 100)) click 1; sleep 0.3; }
# Copies the pane at (x%, y%) and pastes it at the end of the source, saved.
copy_pane() {
  click "$1" "$2"
  xdotool key ctrl+a ctrl+c
  click 25 25
  xdotool key ctrl+End Return ctrl+v ctrl+s
  sleep 0.5
}
# Copies the pane at (x%, y%) until what it shows matches the pattern (the
# program may take a while to build and stop), or fails with the message.
expect_pane() {
  for _ in $(seq 10); do
    copy_pane "$1" "$2"
    grep -qP "$3" "$src" && return
    sleep 1
  done
  fail "$4"
}
chain() { expect_pane 41 80 "$@"; }
line7() { click 25 25; xdotool key ctrl+Home Down Down Down Down Down Down; }

line7
xdotool key ctrl+F8 shift+F9
chain '^ *main  \(line 7\)$' "Shift+F9 did not stop at the breakpoint on line 7"
xdotool key F11
chain '^ *bump  \(line 3\)$' "F11 did not step into bump"
xdotool key shift+F11
chain '^ *main  \(line 8\)$' "Shift+F11 did not step out to line 8"
line7
xdotool key ctrl+F8 shift+F9
expect_pane 20 85 '^ *count\t3$' "Shift+F9 did not run on to the end with count 3" # the variables left

quit_window
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$work" "$lib"
echo "debugger driven: a breakpoint set and hit, stepped in and out, run on to the end"
