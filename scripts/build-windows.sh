#!/usr/bin/env bash
# Cross-builds the whole updater for 64-bit Windows with Debian's mingw-w64 toolchain: the
# libraries from Debian's sources first (scripts/windows-deps.sh, cached outside the
# checkout), then the engine, updater.exe and the engine's test programs in build-windows,
# and the shipped form of the program, build-windows/stripped/updater.exe. Prints that
# file's path, its size and the DLLs it imports.
#
#   scripts/build-windows.sh [--app]      --app: only updater.exe and its stripped copy
#
# UPDATER_WINDOWS_BUILD sets the build folder, JOBS the parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(all)
case "${1:-}" in
    "") ;;
    --app) targets=(updater) ;;
    *) echo "usage: scripts/build-windows.sh [--app]" >&2; exit 2 ;;
esac
jobs=${JOBS:-2}
build=${UPDATER_WINDOWS_BUILD:-build-windows}

prefix=$(scripts/windows-deps.sh)
echo "=== $build (mingw-w64, libraries from $prefix)"
# Optimised for size, like the libraries, and without debug information: nobody debugs these
# programs under Wine and the shipped one is stripped. That also takes half the compile and
# link time of an optimised build with debug information.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DUPDATER_WINDOWS_DEPS="$prefix" >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
cmake --build "$build" --target updater_stripped >/dev/null

program=$build/stripped/updater.exe
echo "$program: $(stat -c %s "$program") bytes"
echo "imports: $(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | sort -f |
    tr '\n' ' ')"
