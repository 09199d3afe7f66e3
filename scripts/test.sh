#!/usr/bin/env bash
# Builds everything and runs all tests: once in a normal build, whose installation and
# Debian package are then checked, then the engine's unit tests again under
# AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer, then the
# fuzz targets briefly, and at last the whole updater cross-built for Windows with its tests
# run under Wine (scripts/test-windows.sh). Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=${JOBS:-2}

run_build() {
    local folder=$1 label=$2
    shift 2
    echo "=== $folder"
    cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$folder" -j "$jobs"
    ctest --test-dir "$folder" -j "$jobs" --output-on-failure --timeout 300 ${label:+-L "$label"}
}

run_build build ""
scripts/test-package.sh build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build build-asan unit -DUPDATER_SANITIZE=address,undefined
# ThreadSanitizer needs the address layout it was built for; disable randomisation.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(pwd)/tests/tsan.supp" \
    setarch "$(uname -m)" -R bash -c "$(declare -f run_build); jobs=$jobs; run_build build-tsan unit -DUPDATER_SANITIZE=thread"
# Every parser of outside input under libFuzzer (clang): its committed corpus, then a
# bounded number of new inputs each.
run_build build-fuzz fuzz -DUPDATER_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# The Windows build: its libraries from Debian's sources (cached), the engine's suites and the
# Windows tests under Wine.
JOBS=$jobs scripts/test-windows.sh
