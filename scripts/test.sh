#!/usr/bin/env bash
# Builds everything and runs all tests: once in a normal build, whose installation and
# Debian package are then checked, then the engine's unit tests again under
# AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer, then the
# fuzz targets briefly, and at last the whole updater cross-built for Windows with its tests
# run under Wine (scripts/test-windows.sh). Exits non-zero when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=${JOBS:-2}

# The Windows build (its libraries from Debian's sources, then the whole updater) takes
# half of a first run. It is made from the start, in the background and at the lowest
# priority, so that it uses the time the Linux stages leave the processors idle; the Windows
# stage at the end waits for it, then runs the tests under Wine. Once cached it takes a
# minute. It runs in a process group of its own, which ends with this script, but in this
# script's session: a new session would be scheduled as a peer (autogroups), whatever its
# priority.
windows_build_log=$(mktemp "${TMPDIR:-/tmp}/updater-windows-build.XXXXXX")
set -m
JOBS=$jobs nice -n 19 scripts/test-windows.sh --build-only >"$windows_build_log" 2>&1 &
windows_build=$!
set +m
stop_windows_build() {
    kill -- "-$windows_build" 2>/dev/null || true
    rm -f "$windows_build_log"
}
trap stop_windows_build EXIT

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
# The Windows build, made in the background, and its tests under Wine.
echo "=== Windows build (made in the background)"
if ! wait "$windows_build"; then
    cat "$windows_build_log"
    exit 1
fi
grep -v '^\[' "$windows_build_log" || true
JOBS=$jobs scripts/test-windows.sh
