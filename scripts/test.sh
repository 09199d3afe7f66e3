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

# The Windows libraries (scripts/windows-deps.sh) take a quarter of a first run. They are
# built from the start, in the background and at the lowest priority, so that they use the
# time the test stages leave the processors idle; the Windows stage waits for them. Once
# cached they take a second. They run in a process group of their own, which ends with this
# script, but in its session: a new session would be scheduled as a peer of this one
# (autogroups), whatever its priority.
windows_deps_log=$(mktemp "${TMPDIR:-/tmp}/updater-windows-deps.XXXXXX")
set -m
nice -n 19 scripts/windows-deps.sh >"$windows_deps_log" 2>&1 &
windows_deps=$!
set +m
stop_windows_deps() {
    kill -- "-$windows_deps" 2>/dev/null || true
    rm -f "$windows_deps_log"
}
trap stop_windows_deps EXIT

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
# The sanitized builds are optimised as their authors advise, at -O1, which keeps reports
# exact and halves the compile time; -g1 keeps the line numbers in their stack traces.
sanitized=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build build-asan unit -DUPDATER_SANITIZE=address,undefined "${sanitized[@]}"
# ThreadSanitizer needs the address layout it was built for; disable randomisation.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(pwd)/tests/tsan.supp" \
    setarch "$(uname -m)" -R bash -c "$(declare -f run_build); jobs=$jobs; run_build \"\$@\"" \
    run_build build-tsan unit -DUPDATER_SANITIZE=thread "${sanitized[@]}"
# Every parser of outside input under libFuzzer (clang): its committed corpus, then a
# bounded number of new inputs each.
run_build build-fuzz fuzz -DUPDATER_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# The Windows build: its libraries from Debian's sources (cached), the engine's suites and the
# Windows tests under Wine.
echo "=== Windows libraries"
if ! wait "$windows_deps"; then
    cat "$windows_deps_log"
    exit 1
fi
grep -v '^/' "$windows_deps_log" || true
JOBS=$jobs scripts/test-windows.sh
