#!/usr/bin/env bash
# Cross-builds the platform layer, the log engine and their tests for Windows with Debian's
# mingw-w64 toolchain (build-windows) and runs the tests under Wine, in a fresh Wine prefix
# inside a temporary folder of its own. Installs the cross compiler and Wine when they are
# missing; exits non-zero when they cannot be installed or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

jobs=${JOBS:-2}
build=${UPDATER_WINDOWS_BUILD:-build-windows}
packages=(cmake g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64)

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

echo "=== $build (mingw-w64, tests under Wine)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

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

ctest --test-dir "$build" -L wine -j "$jobs" --output-on-failure --timeout 300
