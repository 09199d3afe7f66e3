#!/usr/bin/env bash
# Cross-builds the whole updater for Windows (scripts/build-windows.sh: the libraries from
# Debian's sources, cached, then the engine, updater.exe and the test programs in
# build-windows) and runs its tests under Wine, in a fresh Wine prefix inside a temporary
# folder of its own, then the end-to-end run of updater.exe (scripts/test-windows-e2e.sh,
# with the demo server of the Linux build, LINUX_BUILD, default build). Installs the cross
# compiler and Wine when they are missing; exits non-zero when they cannot be installed, the
# build fails or a test fails.
#
#   scripts/test-windows.sh [--build-only]    --build-only: install and build, run nothing
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

build_only=false
case "${1:-}" in
    "") ;;
    --build-only) build_only=true ;;
    *) echo "usage: scripts/test-windows.sh [--build-only]" >&2; exit 2 ;;
esac
jobs=${JOBS:-2}
export UPDATER_WINDOWS_BUILD=${UPDATER_WINDOWS_BUILD:-build-windows}
build=$UPDATER_WINDOWS_BUILD
packages=(cmake g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64
    openssl xvfb xdotool imagemagick)

tools_present() {
    command -v x86_64-w64-mingw32-g++-posix &&
        command -v x86_64-w64-mingw32-windres &&
        command -v wine && command -v wineboot && command -v wineserver &&
        [ -f /usr/src/googletest/CMakeLists.txt ]
}

install_packages "${packages[@]}" || exit 1
if ! tools_present >/dev/null; then
    echo "Windows tests cannot run: the mingw-w64 cross compiler, Wine or the GoogleTest" \
        "sources are missing although their packages are installed." >&2
    exit 1
fi

JOBS=$jobs scripts/build-windows.sh
! $build_only || exit 0

# Everything Wine writes stays in the scratch folder: the prefix and the home folder it
# links the user's folders into. No display: nothing may wait for a window.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/updater-wine.XXXXXX")
export WINEPREFIX="$scratch/prefix" HOME="$scratch/home"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DOWNLOAD_DIR
mkdir -p "$HOME"
finish() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap finish EXIT

wineboot -i >"$scratch/wineboot.log" 2>&1 || {
    cat "$scratch/wineboot.log"
    echo "wineboot could not make a Wine prefix"
    exit 1
}
wineserver -w

echo "=== $build: tests under Wine"
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300
scripts/test-windows-e2e.sh "$build" "${LINUX_BUILD:-build}"
