#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages needed to build and test, if any are missing.
set -euo pipefail

packages=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5gui5 groff-base dpkg-dev file
          lintian desktop-file-utils appstream)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
