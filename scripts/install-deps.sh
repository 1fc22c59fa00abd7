#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages needed to build and test, if any are missing.
# RASTREL_QT=6 installs those of the Qt 6 build (default 5).
set -euo pipefail

# RASTREL_QT=6 in the environment: the Qt 6 build's packages instead of Qt 5's.
packages=(cmake make g++ ccache groff-base dpkg-dev file lintian desktop-file-utils appstream)
if [ "${RASTREL_QT:-5}" = 6 ]; then
    packages+=(qt6-base-dev qt6-base-dev-tools libqt6gui6 qt6-qpa-plugins)
else
    packages+=(qtbase5-dev qtbase5-dev-tools libqt5gui5)
fi
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
