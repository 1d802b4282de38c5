#!/usr/bin/env bash
# Opens the window on the example source; without a display (or without the
# window), compiles the example with the command-line tool and prints it.
set -euo pipefail
build=${1:-build}
example=examples/blink.4th
work=$(mktemp -d)
cp "$example" "$work/"
src="$work/$(basename "$example")"
if [ -x "$build/bin/mirtolan" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/bin/mirtolan" "$src"
fi
[ -x "$build/bin/mirtolan" ] && echo "No display: compiling $example with mirtolanc instead of opening the window."
"$build/bin/mirtolanc" -o - "$src"
