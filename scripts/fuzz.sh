#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz, with clang) in build-fuzz and runs each of them for
# SECONDS (default 300), one after the other, starting from its committed seed corpus.
# Inputs that reach new code are kept in build-fuzz/fuzz-corpus/<target>/ for the next
# run; an input that crashes, leaks, times out or breaks a checked property is kept in
# fuzz-findings/<target>/ and makes the script fail. Afterwards, to add a fixed finding
# to the committed corpus as a regression case, copy it to tests/fuzz/corpus/<target>/.
#
#     scripts/fuzz.sh [SECONDS] [TARGET...]      targets: the names in tests/fuzz/corpus/
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
jobs=${JOBS:-2}

if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(ls tests/fuzz/corpus)
fi

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzzer}"

root=$(pwd)
failed=()
for target in "${targets[@]}"; do
    corpus=$root/build-fuzz/fuzz-corpus/$target
    findings=$root/fuzz-findings/$target
    work=$root/build-fuzz/fuzz-work/$target
    mkdir -p "$corpus" "$findings" "$work"
    echo "=== $target: $seconds s"
    # Run in a scratch folder, since a parser may write beside it (release notes).
    # Standard output is closed for the parsers' own messages; libFuzzer reports on
    # standard error. -timeout is the per-input limit that counts as a hang.
    if ! (cd "$work" && "$root/build-fuzz/tests/fuzz/${target}_fuzzer" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "$root/tests/fuzz/corpus/$target"); then
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings of ${failed[*]} are in fuzz-findings/" >&2
    exit 1
fi
