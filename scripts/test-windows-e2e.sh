#!/usr/bin/env bash
# The end-to-end run of the Windows updater: updater.exe under Wine, on Xvfb, against the
# demo server (built for Linux) on loopback, with the Windows demo product as the installer.
# scripts/test-windows.sh runs it in its scratch Wine prefix (WINEPREFIX must be set):
#
#   scripts/test-windows-e2e.sh WINDOWS_BUILD LINUX_BUILD [SCREENSHOT.png]
#
# Two runs, each checked for its exit status and the files it leaves:
#   1. a whole update into a Downloads folder below the user folder "Zoë 日本": the first
#      transfer is cut and resumed, the installer runs silently, and the product is started
#      again with awkward arguments that it must receive exactly;
#   2. an installer that fails once: the window says "Install failed.", "Launch Installer"
#      runs it again, and the update completes.
# With SCREENSHOT.png the window is photographed during the first run's download.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || {
    echo "usage: scripts/test-windows-e2e.sh WINDOWS_BUILD LINUX_BUILD [SCREENSHOT.png]" >&2
    exit 2
}
windows_build=$(realpath "$1")
linux_build=$(realpath -m "$2")
screenshot=${3:+$(realpath -m "$3")}
: "${WINEPREFIX:?the Wine prefix to run in}"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

updater=$windows_build/updater/app/updater.exe
installer_program=$windows_build/tools/demo_product/demo_product.exe
window_click=$windows_build/tests/windows/window_click.exe
server=$linux_build/tools/demo_server/demo_server
publish=$linux_build/tools/publish/updater-publish
if [ ! -x "$server" ] || [ ! -x "$publish" ]; then
    cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$linux_build" -j "${JOBS:-2}" --target demo_server updater-publish
fi

source scripts/lib/background.sh
make_work_folder updater-wine-e2e
work=$work_folder

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "  ok: $what"
    else
        echo "  FAILED: $what"
        failures=$((failures + 1))
    fi
}

# Polls `condition` every 0.2 s for at most `seconds`.
wait_for() {
    local seconds=$1 tick
    shift
    for ((tick = 0; tick < seconds * 5; tick++)); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

windows_path() { winepath -w "$1" 2>/dev/null; }

start_xvfb_unless_display

# The user's Downloads folder lies below a folder whose name no ANSI code page holds.
downloads="$work/Zoë 日本/Downloads"
mkdir -p "$downloads"
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
    /v '{374DE290-123F-4565-9164-39C4925E467B}' /t REG_EXPAND_SZ \
    /d "$(windows_path "$downloads")" /f >/dev/null 2>&1

# Release 2.0.0 of the demo product for Windows, whose installer is the Windows demo
# program, published with updater-publish into the folder the demo server serves.
installer=$work/VeltoraDemo-2.0.0-setup.exe
cp "$installer_program" "$installer"
size=$(stat -c %s "$installer")
mkdir -p "$work/site"
start_server "$work/port" "$server" --site "$work/site" --rate $((size / 3)) \
    --cut-transfers 1 >"$work/server.log" 2>&1 || {
    cat "$work/server.log"
    exit 1
}
port=$server_port
"$publish" --sku veltora-demo --platform windows --version 2.0.0 --name "Veltora Demo" \
    --base-url "http://127.0.0.1:$port" --out "$work/site" "$installer" >"$work/publish.log" 2>&1 || {
    cat "$work/publish.log"
    echo "updater-publish could not publish the release"
    exit 1
}
export VELTORA_DEMO_HOME
VELTORA_DEMO_HOME=$(windows_path "$work/product")
product="$VELTORA_DEMO_HOME\\bin\\veltora-demo.exe"
installs=$work/product/bin/INSTALLS

if [ -n "$screenshot" ]; then
    (
        wait_for 120 xdotool search --onlyvisible --name '^Auto Update$' >/dev/null 2>&1 || exit 0
        sleep 1
        window=$(xdotool search --onlyvisible --name '^Auto Update$' | head -1)
        import -silent -window "$window" "png:$screenshot"
    ) &
    background_pids+=($!)
fi

echo "=== Windows end-to-end run 1: update, resume, silent install, relaunch"
arguments=("hello world" 'say "hi"' "" 'C:\Program Files\' 'back\"slash' "Zoë 日本" "--server")
export VELTORA_DEMO_RECORD
VELTORA_DEMO_RECORD=$(windows_path "$work/record")
set +e
(cd "$work" && timeout 300 wine "$updater" --product-sku veltora-demo \
    --server "127.0.0.1:$port" -- "$product" "${arguments[@]}") >"$work/run1.log" 2>&1
status=$?
set -e
wait_for 60 test -s "$work/record" || true
expected_record=$(
    echo "version 2.0.0"
    printf 'argument %s\n' "${arguments[@]}"
)
check "exit status 0 (was $status)" test "$status" -eq 0
check "the first transfer was cut and resumed with a range request" \
    grep -q ' -> 206 ' "$work/server.log"
check "the installer ran once, silently" test "$(cat "$installs" 2>/dev/null)" = "2.0.0 silent"
check "the product was started again with exactly the arguments given" \
    test "$(cat "$work/record" 2>/dev/null)" = "$expected_record"
check "the Downloads folder below \"Zoë 日本\" is empty again" \
    test -z "$(ls -A "$downloads")"
unset VELTORA_DEMO_RECORD

echo "=== Windows end-to-end run 2: \"Install failed.\", then \"Launch Installer\""
rm -rf "$work/product"
touch "$work/fail-once"
export VELTORA_DEMO_FAIL_ONCE
VELTORA_DEMO_FAIL_ONCE=$(windows_path "$work/fail-once")
set +e
(cd "$work" && timeout 300 wine "$updater" --product-sku veltora-demo \
    --server "127.0.0.1:$port") >"$work/run2.log" 2>&1 &
run=$!
set -e
# The installer failed once the marker is gone; then "Launch Installer" (the centre of the
# button in the window's 300 x 100 panel) is clicked until the installation is recorded.
wait_for 120 test ! -e "$work/fail-once" || true
click_launch_installer() {
    wine "$window_click" "Auto Update" 75 63 >/dev/null 2>&1 || true
    test -s "$installs"
}
wait_for 60 click_launch_installer || true
set +e
wait "$run"
status=$?
set -e
check "the failing installer ran" test ! -e "$work/fail-once"
check "\"Launch Installer\" ran it again, and it installed" \
    grep -q '^2.0.0 ' "$installs"
check "exit status 0 after the retry (was $status)" test "$status" -eq 0

if [ "$failures" -gt 0 ]; then
    for log in server run1 run2; do
        echo "--- $log.log"
        tail -n 40 "$work/$log.log"
    done
    echo "Windows end-to-end run: $failures check(s) failed"
    exit 1
fi
echo "Windows end-to-end run: all checks passed"
