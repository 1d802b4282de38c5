#!/usr/bin/env bash
# Drives the real executable from outside, as a user would: under Xvfb,
# `mirtolan FILE` opens FILE, F9 compiles it and writes the .asm beside it,
# F4 goes to the line of the first message, typing comments it out there,
# Ctrl+H replaces a word, Ctrl+= zooms, Ctrl+S saves, and Ctrl+Q closes the
# window and writes the six settings keys and the zoom.
set -euo pipefail
exe=${1:?usage: drive_window.sh path/to/mirtolan}
source "$(dirname "$0")/drive_lib.sh"
drive_setup "$exe"
small_archive # the archive the program falls back to
printf ': twice dup dup ;\r\nbogus\r\n' > "$work/src/drive.4th"

cat > "$work/inside.sh" <<'INNER'
set -euo pipefail
work=$1
cd "$work/cwd"
unset QT_QPA_PLATFORM
"$work/bin/mirtolan" "$work/src/drive.4th" &
pid=$!
wid=$(timeout 30 xdotool search --sync --name 'drive\.4th')
wid=${wid%%$'\n'*}
xdotool windowfocus --sync "$wid"
sleep 0.5
xdotool key F9
for _ in $(seq 50); do [ -f "$work/src/drive.asm" ] && break; sleep 0.2; done
[ -f "$work/src/drive.asm" ] || { echo "F9 wrote no drive.asm"; kill "$pid"; exit 1; }
# The compile runs beside the window: its messages show just after the file is written.
sleep 0.5
# F4: to the start of line 2 ("bogus"), where typing goes straight in.
xdotool key F4
sleep 0.2
xdotool type --delay 20 '\\ '
# Ctrl+H: find "twice" (Enter selects it), then Ctrl+H again takes the
# selection as the word to find and waits for its replacement.
xdotool key ctrl+h
sleep 0.2
xdotool type --delay 20 twice
xdotool key Return
sleep 0.2
xdotool key ctrl+h
sleep 0.2
xdotool type --delay 20 double
xdotool key Return Escape
sleep 0.2
xdotool key ctrl+equal ctrl+equal ctrl+s
sleep 0.5
xdotool key ctrl+q
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then echo "Ctrl+Q did not close the window"; kill "$pid"; exit 1; fi
wait "$pid"
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$work"

grep -q $'^twice:\r$' "$work/src/drive.asm" || { echo "drive.asm lacks the definition"; exit 1; }
printf ': double dup dup ;\r\n\\\\ bogus\r\n' > "$work/expected.4th"
if ! cmp -s "$work/expected.4th" "$work/src/drive.4th"; then
  echo "F4, typing and Ctrl+H did not give the expected source:"; od -c "$work/src/drive.4th"; exit 1
fi
ini="$work/bin/mirtolan.INI"
[ -f "$ini" ] || { echo "no settings file written"; exit 1; }
for key in Header Zcall dir VarBeg Top Left Width Height; do
  grep -q "^$key=" "$ini" || { echo "settings lack $key"; cat "$ini"; exit 1; }
done
grep -q $'^Zoom=2\r$' "$ini" || { echo "Ctrl+= twice did not leave Zoom=2"; cat "$ini"; exit 1; }
echo "window driven: opened, compiled, F4, Ctrl+H, zoom, saved, closed"
