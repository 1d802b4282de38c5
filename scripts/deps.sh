#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail
packages=(cmake ninja-build g++ make libgtest-dev qt6-base-dev avra simavr libsimavr-dev xvfb xfonts-base fonts-dejavu-core xauth time dpkg-dev file xdotool clang libclang-rt-14-dev gforth avrdude arduino-core-avr qt6-serialport-dev nlohmann-json3-dev gcc-avr avr-libc nodejs)
missing=()
for p in "${packages[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
