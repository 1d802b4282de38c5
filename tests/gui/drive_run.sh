#!/usr/bin/env bash
# Drives Run in the real executable from outside: under Xvfb, `mirtolan
# FILE` opens FILE, F5 builds it (the .hex appears beside it) and runs it,
# Shift+F5 stops the run, and Ctrl+Q closes the window at once.
set -euo pipefail
exe=${1:?usage: drive_run.sh path/to/mirtolan share/mirtolan}
share=${2:?usage: drive_run.sh path/to/mirtolan share/mirtolan}
source "$(dirname "$0")/drive_lib.sh"
drive_setup "$exe"
cp -r "$share/." "$work/share/mirtolan/" # the whole run-time
printf 'VARIABLE n\r\n: main BEGIN n C@ 1+ n C! AGAIN ;\r\n' > "$work/src/spin.4th"

cat > "$work/inside.sh" <<'INNER'
set -euo pipefail
work=$1
cd "$work/cwd"
unset QT_QPA_PLATFORM
"$work/bin/mirtolan" "$work/src/spin.4th" &
pid=$!
wid=$(timeout 30 xdotool search --sync --name 'spin\.4th')
wid=${wid%%$'\n'*}
xdotool windowfocus --sync "$wid"
sleep 0.5
xdotool key F5
for _ in $(seq 50); do [ -f "$work/src/spin.hex" ] && break; sleep 0.2; done
[ -f "$work/src/spin.hex" ] || { echo "F5 built no spin.hex"; kill "$pid"; exit 1; }
sleep 0.2
xdotool key shift+F5
sleep 0.3
xdotool key ctrl+q
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then echo "Ctrl+Q did not close the window"; kill "$pid"; exit 1; fi
wait "$pid"
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$work"
echo "Run driven: F5 built and ran, Shift+F5 stopped, the window closed"
