#!/usr/bin/env bash
# Drives the real window from outside under real use, under Xvfb: a kept
# size larger than the screen comes back cut to it; F4 after lines were
# added above a message goes to where its line moved; an LF file stays LF;
# Ctrl+A and Ctrl+C in the message pane copy the messages, not the editor;
# Ctrl+Tab leaves the editor; a file changed by another program while the
# window shows it unedited is reloaded, so Ctrl+S keeps that change.
set -euo pipefail
exe=${1:?usage: drive_use.sh path/to/mirtolan}
source "$(dirname "$0")/drive_lib.sh"
drive_setup "$exe"
small_archive
printf ': twice dup dup ;\nbogus\n' > "$work/src/use.4th"
printf '[FormPosi]\r\nTop=10\r\nLeft=10\r\nWidth=3000\r\nHeight=2000\r\n' > "$work/bin/mirtolan.INI"

cat > "$work/inside.sh" <<'INNER'
set -euo pipefail
work=$1
src="$work/src/use.4th"
cd "$work/cwd"
unset QT_QPA_PLATFORM
"$work/bin/mirtolan" "$src" &
pid=$!
fail() { echo "$*"; kill "$pid" 2>/dev/null; exit 1; }
expect() { # the file's bytes, as printf writes the second argument
  sleep 0.5
  printf "$2" > "$work/expected"
  cmp -s "$work/expected" "$src" || { echo "$1; the source is:"; od -c "$src"; fail "expected: $(od -c "$work/expected")"; }
}
wid=$(timeout 30 xdotool search --sync --name 'use\.4th')
wid=${wid%%$'\n'*}
xdotool windowfocus --sync "$wid"
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$WIDTH" -le 1024 ] && [ "$HEIGHT" -le 768 ] || fail "the window is ${WIDTH}x$HEIGHT on a 1024x768 screen"
click() { xdotool mousemove --window "$wid" $((WIDTH * $1 / 100)) $((HEIGHT * $2 / 100)) click 1; sleep 0.2; }

xdotool key F9
for _ in $(seq 50); do [ -f "$work/src/use.asm" ] && break; sleep 0.2; done
[ -f "$work/src/use.asm" ] || fail "F9 wrote no use.asm"
sleep 0.5
# A line above the message's: F4 goes to "bogus" on line 3 now, and comments it out.
xdotool key ctrl+Home
xdotool type --delay 20 '\\ top'
xdotool key Return F4
sleep 0.2
xdotool type --delay 20 '\\ '
xdotool key ctrl+s
expect "F4 after the edit, or the LF line ends" '\\\\ top\n: twice dup dup ;\n\\\\ bogus\n'

# Select All and Copy in the message pane take the messages; pasted at the end of the source.
click 85 45
xdotool key ctrl+a ctrl+c
click 30 25
xdotool key ctrl+End Return ctrl+v ctrl+s
expect "Ctrl+A, Ctrl+C in the messages" \
  '\\\\ top\n: twice dup dup ;\n\\\\ bogus\nNot defined bogus ,Line 2\nCompile Completed\nVariable end: $0080\n'

# Ctrl+Tab leaves the editor: what is typed next does not go into the source.
xdotool key ctrl+Tab
xdotool type --delay 20 'zzz'
xdotool key ctrl+s
sleep 0.5
grep -q zzz "$src" && fail "Ctrl+Tab left the keys in the editor"

# Another program rewrites the file; the unedited window reloads it, and Ctrl+S keeps the change.
printf ': twice dup dup ;\n\\\\ changed outside\n' > "$src"
sleep 1
click 30 25
xdotool key ctrl+End
xdotool type --delay 20 ' \\ mine'
xdotool key ctrl+s
expect "the change on disk was not reloaded" ': twice dup dup ;\n\\\\ changed outside \\\\ mine\n'

xdotool key ctrl+q
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then fail "Ctrl+Q did not close the window"; fi
wait "$pid"
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$work"

width=$(grep -a '^Width=' "$work/bin/mirtolan.INI" | tr -dc 0-9)
[ "$width" -le 1024 ] || { echo "the kept width $width is wider than the screen"; exit 1; }
echo "window driven: cut to the screen, F4 after edits, LF kept, messages copied, Ctrl+Tab, reloaded from disk"
