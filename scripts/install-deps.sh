#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need, when missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache
    juce-modules-source
    libpoco-dev libssl-dev openssl ca-certificates
    libboost-dev libboost-filesystem-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev libxcomposite-dev
    libfreetype-dev libfontconfig1-dev
    xvfb xauth xdotool x11-apps imagemagick fonts-dejavu-core
    curl time bc
    nginx-light
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
