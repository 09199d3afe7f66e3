#!/usr/bin/env bash
# Runs one whole update against the bundled demo server on loopback:
#   installs what is missing, builds the updater, updater-publish, the demo server and the
#   demo product, installs version 1.0.0 of the demo product, publishes release 2.0.0 with
#   updater-publish (signed with a key made for the demo) into a folder that the demo
#   server serves as a static web server would, and runs the updater (on Xvfb when there is no display) through download,
#   verification, silent installation and relaunch of the product, printing what happens.
#
#   scripts/demo.sh [--screenshot FILE.png]
#
# The first transfer of the installer is cut halfway on purpose, so the run also shows a
# paused download being resumed. BUILD_DIR sets the build folder (default build), JOBS
# the build parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
repository=$(pwd)

screenshot=""
while [ $# -gt 0 ]; do
    case "$1" in
        --screenshot) screenshot=$(realpath -m "$2"); shift 2 ;;
        *) echo "usage: scripts/demo.sh [--screenshot FILE.png]" >&2; exit 2 ;;
    esac
done

say() { printf '\n==> %s\n' "$*"; }

say "Checking the Debian packages the build needs"
scripts/install-deps.sh

build=$(realpath -m "${BUILD_DIR:-build}")
say "Building the updater, updater-publish, the demo server and the demo product in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_BUILD_APP=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target updater updater-publish demo_server demo_product
updater=$build/updater/app/updater
publish=$build/tools/publish/updater-publish
server=$build/tools/demo_server/demo_server
product=$build/tools/demo_product/demo_product

# shellcheck source=scripts/lib/background.sh
source scripts/lib/background.sh
make_work_folder veltora-demo
demo=$work_folder
mkdir -p "$demo/site" "$demo/Downloads" "$demo/work"
export VELTORA_DEMO_HOME=$demo/product
export XDG_DOWNLOAD_DIR=$demo/Downloads

say "Installing version 1.0.0 of the demo product into $VELTORA_DEMO_HOME"
VELTORA_DEMO_VERSION=1.0.0 "$product" /SILENT
"$VELTORA_DEMO_HOME/bin/veltora-demo" --started-by user

installer=$demo/VeltoraDemo-2.0.0-setup
cp "$product" "$installer"
size=$(stat -c %s "$installer")
say "Starting the demo server on the folder $demo/site"
# About three seconds of download, so the window can be watched.
start_server "$demo/port" "$server" --site "$demo/site" \
    --rate $((size / 3)) --cut-transfers 1 > >(sed -u 's/^/    /') 2>&1
port=$server_port

say "Publishing release 2.0.0 with updater-publish"
echo "    $publish keygen --out $demo/release.key"
"$publish" keygen --out "$demo/release.key" | sed -u 's/^/    /'
echo "<h1>Veltora Demo 2.0.0</h1><p>Now with a relaunch.</p>" >"$demo/notes.html"
echo "    $publish --sku veltora-demo --platform linux --version 2.0.0 --name \"Veltora Demo\" \\"
echo "        --base-url http://127.0.0.1:$port --notes $demo/notes.html \\"
echo "        --sign-key $demo/release.key --out $demo/site $installer"
"$publish" --sku veltora-demo --platform linux --version 2.0.0 --name "Veltora Demo" \
    --base-url "http://127.0.0.1:$port" --notes "$demo/notes.html" \
    --sign-key "$demo/release.key" --out "$demo/site" "$installer" | sed -u 's/^/    /'
(cd "$demo/site" && find . -type f | sort | sed 's/^/    /')
echo "    (this updater is built without UPDATER_SIGNING_PUBLIC_KEY, so it ignores the signature)"

if [ -z "${DISPLAY:-}" ]; then
    say "No display: starting Xvfb"
    start_xvfb_unless_display
    echo "    DISPLAY=$DISPLAY"
fi

if [ -n "$screenshot" ]; then
    # Grabs the window one second after it appears, a third of the way into the download.
    (
        for _ in $(seq 300); do
            window=$(xdotool search --onlyvisible --name "^Auto Update$" 2>/dev/null | head -1 || true)
            if [ -n "$window" ]; then
                sleep 1
                import -silent -window "$window" "png:$screenshot" &&
                    echo "    (screenshot of the window saved to $screenshot)"
                exit 0
            fi
            sleep 0.1
        done
    ) &
    background_pids+=($!)
fi

say "Running the updater (product veltora-demo, server 127.0.0.1:$port)"
echo "    $updater --product-sku veltora-demo --server 127.0.0.1:$port -- \\"
echo "        $VELTORA_DEMO_HOME/bin/veltora-demo --started-by updater \"hello world\""
set +e
(
    cd "$demo/work"
    UPDATER_LOG=update_manager=info,download=info,install=info \
        "$updater" --product-sku veltora-demo --server "127.0.0.1:$port" -- \
        "$VELTORA_DEMO_HOME/bin/veltora-demo" --started-by updater "hello world"
) 2>&1 | sed -u 's/^/    /'
status=${PIPESTATUS[0]}
set -e

say "The run ended with status $status"
echo "    (after a completed update the relaunched product replaces the updater, so this is"
echo "    the product's status, and the updater's last buffered log lines are not printed)"
echo "    installed version: $(cat "$VELTORA_DEMO_HOME/bin/VERSION")"
echo "    Downloads folder:  $(ls -A "$demo/Downloads" | tr '\n' ' ')(empty after a completed update)"
[ "$status" -eq 0 ] && [ "$(cat "$VELTORA_DEMO_HOME/bin/VERSION")" = "2.0.0" ]
