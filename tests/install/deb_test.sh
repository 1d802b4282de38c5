#!/usr/bin/env bash
# Packs the build as a .deb, unpacks it into a scratch root and runs the
# installed compiler there, away from the source and build trees.
set -euo pipefail
build=$1 source=$2 gui=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/pkg/*.deb | head -n 1)
[ -f "$deb" ] || fail "no .deb built"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libc6* ]] || fail "Depends lacks libc6"
[[ $depends == *libstdc++6* ]] || fail "Depends lacks libstdc++6"
if [ "$gui" = gui ]; then
  [[ $depends == *libqt6widgets6* ]] || fail "Depends lacks Qt 6 Widgets"
fi

root="$work/root"
dpkg -x "$deb" "$root"
expect=(usr/bin/mirtolanc usr/share/mirtolan/Mirtolan.arch usr/share/mirtolan/4thHead.asm
        usr/share/mirtolan/m328p/4thHead.asm usr/share/mirtolan/t85/4thHead.asm
        usr/share/mirtolan/m2560/Device.arch usr/share/mirtolan/examples/blink.4th
        usr/share/mirtolan/Tester.4th usr/share/mirtolan/examples/thermostat-test.4th
        usr/share/man/man1/mirtolanc.1.gz)
if [ "$gui" = gui ]; then
  expect+=(usr/bin/mirtolan usr/share/applications/mirtolan.desktop usr/share/icons/hicolor/scalable/apps/mirtolan.svg)
fi
for f in "${expect[@]}"; do
  [ -e "$root/$f" ] || fail "package lacks $f"
done
gzip -t "$root/usr/share/man/man1/mirtolanc.1.gz" || fail "man page is not gzip"
# The headers ship whole, as the build wrote them, and their parts do not ship.
for h in $(cd "$build/share/mirtolan" && find . -name 4thHead.asm); do
  cmp -s "$build/share/mirtolan/$h" "$root/usr/share/mirtolan/$h" || fail "package's $h differs from the build's"
done
[ -z "$(find "$root/usr/share/mirtolan" -name 4thDevice.inc -o -name 4thCore.inc)" ] || fail "package holds a header's part"

# The installed tool finds the installed archive when the working directory has none.
mkdir "$work/proj"
cp "$source/examples/blink.4th" "$work/proj/"
(cd "$work/proj" && "$root/usr/bin/mirtolanc" blink.4th) || fail "installed mirtolanc failed on blink.4th"
[ -s "$work/proj/blink.asm" ] || fail "no blink.asm written"
grep -q '^_TestIfZero:' "$work/proj/blink.asm" || fail "listing lacks the archive's _TestIfZero"

if command -v avra >/dev/null 2>&1; then
  cp "$root/usr/share/mirtolan/4thHead.asm" "$work/proj/"
  (cd "$work/proj" && avra blink.asm >"$work/avra.log" 2>&1) || { cat "$work/avra.log"; fail "avra could not assemble the listing"; }
  [ -s "$work/proj/blink.hex" ] || fail "avra wrote no hex file"
  # The installed tool builds a .hex with the installed run-time of another device.
  mkdir "$work/hex"
  cp "$source/examples/blink328p.4th" "$work/hex/"
  (cd "$work/hex" && "$root/usr/bin/mirtolanc" --device atmega328p --hex blink328p.4th) ||
    fail "installed mirtolanc --hex failed on blink328p.4th"
  [ -s "$work/hex/blink328p.hex" ] || fail "mirtolanc --hex wrote no hex file"
  # The installed tool runs the example's tests with the installed T{ -> }T.
  if "$root/usr/bin/mirtolanc" --help | grep -q -- '--test'; then
    (cd "$root/usr/share/mirtolan/examples" &&
      "$root/usr/bin/mirtolanc" --device atmega328p --test thermostat.4th thermostat-test.4th >"$work/tap.txt") ||
      { cat "$work/tap.txt"; fail "installed mirtolanc --test failed on the thermostat example"; }
    grep -q '^ok 4 - test-steps$' "$work/tap.txt" || fail "the thermostat example's tests did not all run"
  fi
fi
