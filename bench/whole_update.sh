#!/usr/bin/env bash
# Whole-program benchmark: one complete update (query, download, MD5 check, silent
# install, exit) of an installer of SIZE MiB from the demo server on 127.0.0.1, against
# curl fetching the same file followed by md5sum, in the same session; then the
# updater's peak resident memory for several installer sizes.
#
#   bench/whole_update.sh [--size MIB] [--runs N] [--memory-sizes "MIB MIB ..."] [--signed]
#
# With --signed the releases are published with updater-publish, signed with the test key
# of tests/e2e/release-signing-test.key, the demo server serves the published tree, and
# the updater is the one built with that key (updater_signed_for_tests), which checks the
# signature and takes the SHA-256 beside the MD5.
#
# Defaults: --size 256 --runs 5 --memory-sizes "16 256 1024". BUILD_DIR (default build)
# and JOBS (default 2) as for the other scripts. The display (Xvfb when there is none)
# is started before any timing. Exits 1 when the median time ratio exceeds 1.25 or a peak
# exceeds 64 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=256
runs=5
memory_sizes="16 256 1024"
signed=0
while [ $# -gt 0 ]; do
    case "$1" in
        --size) size_mib=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --memory-sizes) memory_sizes=$2; shift 2 ;;
        --signed) signed=1; shift ;;
        *) echo "usage: bench/whole_update.sh [--size MIB] [--runs N] [--memory-sizes \"MIB ...\"] [--signed]" >&2
           exit 2 ;;
    esac
done

build=$(realpath -m "${BUILD_DIR:-build}")
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_BUILD_APP=ON >/dev/null
server=$build/tools/demo_server/demo_server
if [ "$signed" -eq 1 ]; then
    cmake --build "$build" -j "${JOBS:-2}" \
        --target updater_signed_for_tests updater-publish demo_server >/dev/null
    updater=$build/tests/e2e/updater_signed_for_tests
else
    cmake --build "$build" -j "${JOBS:-2}" --target updater demo_server >/dev/null
    updater=$build/updater/app/updater
fi

# shellcheck source=scripts/lib/background.sh
source scripts/lib/background.sh
make_work_folder updater-bench
work=$work_folder
mkdir -p "$work/Downloads" "$work/curl" "$work/run"

# An installer that is a shell script: it exits at once, the random bytes after its
# second line are never read.
make_release() {
    local mib=$1 folder=$work/releases/bench-$1
    mkdir -p "$folder"
    { printf '#!/bin/sh\nexit 0\n'; head -c $((mib * 1024 * 1024)) /dev/urandom; } >"$folder/setup"
    printf '{"name": "Bench %s MiB", "version": "2.0", "installer": "setup"}\n' "$mib" \
        >"$folder/release.json"
}
for mib in $size_mib $memory_sizes; do
    [ -d "$work/releases/bench-$mib" ] || make_release "$mib"
done

if [ "$signed" -eq 1 ]; then
    mkdir -p "$work/site"
    start_server "$work/port" "$server" --site "$work/site" >/dev/null
else
    start_server "$work/port" "$server" --releases "$work/releases" >/dev/null
fi
port=$server_port
# The installer's address below the server.
installer_path() {
    if [ "$signed" -eq 1 ]; then echo "/files/bench-$1/2.0/setup"; else echo "/files/bench-$1/setup"; fi
}
if [ "$signed" -eq 1 ]; then
    for mib in $size_mib $memory_sizes; do
        [ -e "$work/site/files/bench-$mib" ] ||
            "$build/tools/publish/updater-publish" --sku "bench-$mib" --platform linux \
                --version 2.0 --name "Bench $mib MiB" --base-url "http://127.0.0.1:$port" \
                --sign-key tests/e2e/release-signing-test.key --out "$work/site" \
                "$work/releases/bench-$mib/setup" >/dev/null
    done
fi
# The server measures each installer's MD5 once; ask now so no timed run pays for it.
for mib in $size_mib $memory_sizes; do
    curl -sf "http://127.0.0.1:$port/api/resources/soft/bench-$mib/linux/latest" >/dev/null
done

start_xvfb_unless_display

now() { date +%s.%N; }

# Seconds for curl + md5sum of the installer.
time_curl() {
    local mib=$1 start end
    rm -f "$work/curl/setup"
    start=$(now)
    curl -sf -o "$work/curl/setup" "http://127.0.0.1:$port$(installer_path "$mib")"
    md5sum "$work/curl/setup" >/dev/null
    end=$(now)
    echo "$end - $start" | bc
}

# "seconds peak-KiB" for one whole update by the updater.
time_updater() {
    local mib=$1 start end
    rm -rf "$work/Downloads"/* "$work/run"/*
    start=$(now)
    (cd "$work/run" && XDG_DOWNLOAD_DIR=$work/Downloads /usr/bin/time -f "%M" -o "$work/rss" \
        "$updater" --product-sku "bench-$mib" --server "127.0.0.1:$port" >"$work/updater.out" 2>&1)
    end=$(now)
    if [ -n "$(ls -A "$work/Downloads")" ]; then
        echo "the update did not complete:" >&2
        cat "$work/updater.out" >&2
        exit 1
    fi
    echo "$(echo "$end - $start" | bc) $(tail -1 "$work/rss")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "installer: $size_mib MiB, $runs runs each, alternating; loopback server on port $port$([ "$signed" -eq 1 ] && echo ", signed release")"
curl_times=()
updater_times=()
for run in $(seq "$runs"); do
    curl_times+=("$(time_curl "$size_mib")")
    read -r seconds peak < <(time_updater "$size_mib")
    updater_times+=("$seconds")
    printf '  run %d: curl+md5sum %.3f s, updater %.3f s (peak RSS %d KiB)\n' \
        "$run" "${curl_times[-1]}" "$seconds" "$peak"
done
curl_median=$(printf '%s\n' "${curl_times[@]}" | median)
updater_median=$(printf '%s\n' "${updater_times[@]}" | median)
ratio=$(echo "scale=3; $updater_median / $curl_median" | bc)
printf 'median: curl+md5sum %.3f s, updater %.3f s, ratio %.3f (limit 1.25)\n' \
    "$curl_median" "$updater_median" "$ratio"

failed=0
[ "$(echo "$ratio <= 1.25" | bc)" -eq 1 ] || failed=1

echo "peak resident memory of the updater by installer size:"
for mib in $memory_sizes; do
    read -r seconds peak < <(time_updater "$mib")
    printf '  %5d MiB: %6d KiB (%.1f MiB), %.3f s\n' "$mib" "$peak" \
        "$(echo "$peak / 1024" | bc -l)" "$seconds"
    [ "$peak" -lt $((64 * 1024)) ] || failed=1
done
exit $failed
