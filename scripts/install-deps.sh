#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests, the packaging and the demo need,
# when missing.
set -euo pipefail
source "$(dirname "$0")/lib/packages.sh"

install_packages \
    build-essential cmake pkg-config ccache file clang \
    juce-modules-source \
    libpoco-dev libssl-dev openssl ca-certificates \
    libboost-dev libboost-filesystem-dev \
    googletest libgtest-dev libgmock-dev libbenchmark-dev \
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev libxcomposite-dev \
    libfreetype-dev libfontconfig1-dev \
    xvfb xauth xdotool x11-apps imagemagick fonts-dejavu-core \
    curl time bc \
    nginx-light tinyproxy
