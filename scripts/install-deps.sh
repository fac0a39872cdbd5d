#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kairelon need, and only those that
# are missing. Safe to run again: with everything present it changes nothing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth dbus python3-dbusmock
    qt6-svg-dev fonts-liberation
    man-db
    trayer xdotool x11-utils desktop-file-utils
    qt6-wayland weston openbox python3-dbus python3-gi
)
if [ "${KAIRELON_EXTRA_PACKAGES:-}" != "" ]; then
    read -r -a extra <<<"$KAIRELON_EXTRA_PACKAGES"
    packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A new machine has no package lists yet; refresh them before the first install.
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
