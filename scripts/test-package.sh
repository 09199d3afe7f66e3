#!/usr/bin/env bash
# Checks that a built tree installs and packs for users:
#   1. `cmake --install` into a temporary prefix: PREFIX/bin/updater prints its usage and the
#      licence is in PREFIX/share/doc/veltora-updater/;
#   2. `cpack -G DEB` in the build folder makes a package that `apt-get install ./PACKAGE.deb`
#      installs, with its dependencies, on a fresh Debian 12 (a debootstrap'ed bookworm
#      minbase root, entered with chroot), after which the installed updater prints its
#      usage and every library it names, and a font, are present.
#
#   scripts/test-package.sh [BUILD_FOLDER]     (default: build, already built)
#
# The Debian root is made once, with its package lists, and kept as a tarball in
# UPDATER_DEBIAN_CACHE (default ~/.cache/veltora-updater/debian12); each run unpacks a fresh
# copy, so every check starts from the same clean system. The .deb files apt downloads are
# kept there too, so a repeated run downloads nothing. Needs root (debootstrap, chroot).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

build=$(realpath -m "${1:-build}")
cache=${UPDATER_DEBIAN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veltora-updater/debian12}
package_name=veltora-updater

if [ "$(id -u)" -ne 0 ]; then
    echo "test-package.sh needs root to make and enter the Debian root (chroot)." >&2
    exit 1
fi
[ -x "$build/updater/app/updater" ] || {
    echo "No updater in $build: build it first (cmake --build $build)." >&2
    exit 1
}

# The throwaway root lives in memory when it can: unpacking, filling and removing it on disk
# takes longer than the check itself. A tmpfs mounted noexec or nodev cannot hold a system.
scratch_parent=${TMPDIR:-/tmp}
if [ -w /dev/shm ] && ! findmnt -no OPTIONS /dev/shm | grep -qwE 'noexec|nodev'; then
    scratch_parent=/dev/shm
fi
scratch=$(mktemp -d "$scratch_parent/updater-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

started=$(date +%s.%N)
step_started=$started
step_done() {
    local now
    now=$(date +%s.%N)
    printf '    %-58s %6.1f s\n' "$1" "$(echo "$now - $step_started" | bc)"
    step_started=$now
}

# Runs a program that is given no product SKU: it must print the usage and end with 1.
expect_usage() {
    local status=0 output
    output=$("$@" 2>&1) || status=$?
    if [ "$status" -ne 1 ] || ! grep -q "^Usage: updater --product-sku SKU" <<<"$output"; then
        echo "FAILED: '$*' ended with status $status and printed:" >&2
        echo "$output" >&2
        exit 1
    fi
}

# The Debian root as debootstrap makes it, with package lists, as a tarball.
make_debian_root() {
    install_packages debootstrap || exit 1
    local staging=$cache/staging
    rm -rf "$staging"
    echo "    making a Debian 12 root with debootstrap (once) in $cache"
    if ! debootstrap --variant=minbase bookworm "$staging" >"$cache/debootstrap.log" 2>&1; then
        tail -20 "$cache/debootstrap.log" >&2
        echo "debootstrap could not make a Debian 12 root (log: $cache/debootstrap.log)" >&2
        exit 1
    fi
    cp /etc/resolv.conf "$staging/etc/resolv.conf"
    chroot "$staging" apt-get update -qq
    chroot "$staging" apt-get clean
    tar -C "$staging" -cf "$cache/root.tar.partial" .
    mv "$cache/root.tar.partial" "$cache/root.tar"
    rm -rf "$staging"
}

# Every shared library the program names (linked, or opened by JUCE at run time) must be
# found in the root, and a font that JUCE finds through fonts.conf; libXss only lets JUCE
# keep the screen saver off and may be absent.
check_run_time_needs() {
    local root=$1 program=$2 missing=() library
    if chroot "$root" ldd "$program" | grep -q "not found"; then
        chroot "$root" ldd "$program" | grep "not found" >&2
        echo "FAILED: the package does not bring every library $program links" >&2
        exit 1
    fi
    local known
    known=$(chroot "$root" ldconfig -p | awk 'NR > 1 { print $1 }')
    for library in $(grep -aoE 'lib[A-Za-z0-9_+-]+\.so(\.[0-9]+)+' "$root$program" | sort -u); do
        [ "$library" = libXss.so.1 ] && continue
        grep -qxF "$library" <<<"$known" || missing+=("$library")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "FAILED: the package does not bring the libraries $program opens: ${missing[*]}" >&2
        exit 1
    fi
    if [ ! -f "$root/etc/fonts/fonts.conf" ] ||
        [ -z "$(find "$root/usr/share/fonts" -name '*.ttf' -print -quit 2>/dev/null)" ]; then
        echo "FAILED: the package brings no fonts.conf or no font for the window's text" >&2
        exit 1
    fi
}

echo "=== install and Debian package of $build"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
expect_usage env -u DISPLAY "$scratch/prefix/bin/updater"
[ -f "$scratch/prefix/share/doc/$package_name/LICENSE" ] || {
    echo "FAILED: cmake --install left no licence in share/doc/$package_name" >&2
    exit 1
}
"$scratch/prefix/bin/updater-publish" --help >/dev/null || {
    echo "FAILED: the installed updater-publish does not run" >&2
    exit 1
}
step_done "cmake --install; bin/updater prints its usage, bin/updater-publish runs"

rm -f "$build/${package_name}"_*.deb
(cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || {
    cat "$scratch/cpack.log" >&2
    exit 1
}
deb=$(ls "$build/${package_name}"_*.deb)
step_done "cpack -G DEB"

mkdir -p "$cache/archives"
(
    flock 9
    [ -f "$cache/root.tar" ] || make_debian_root
) 9>"$cache/.lock"
root=$scratch/root
mkdir "$root"
tar -C "$root" -xf "$cache/root.tar"
cp /etc/resolv.conf "$root/etc/resolv.conf"
find "$cache/archives" -name '*.deb' -exec cp -l -t "$root/var/cache/apt/archives" {} + 2>/dev/null ||
    find "$cache/archives" -name '*.deb' -exec cp -t "$root/var/cache/apt/archives" {} +
cp "$deb" "$root/tmp/"
step_done "fresh Debian 12 root"

# Without the recommended packages, so the check shows that the dependencies alone are
# enough for the updater to run.
install_in_root() {
    chroot "$root" sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        --no-install-recommends ./$(basename "$deb")" >"$scratch/apt.log" 2>&1
}
# The root's package lists age; when a listed version has left the archive, refresh them.
if ! install_in_root && ! { chroot "$root" apt-get update -qq && install_in_root; }; then
    cat "$scratch/apt.log" >&2
    echo "FAILED: apt-get could not install $(basename "$deb") on Debian 12" >&2
    exit 1
fi
find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -n -t "$cache/archives" {} +
step_done "apt-get install ./$(basename "$deb")"

expect_usage chroot "$root" env -u DISPLAY /usr/bin/updater
check_run_time_needs "$root" /usr/bin/updater
chroot "$root" /usr/bin/updater-publish --help >/dev/null || {
    echo "FAILED: the installed updater-publish does not run" >&2
    exit 1
}
step_done "installed updater prints its usage, finds its libraries; updater-publish runs"

echo "    depends: $(chroot "$root" dpkg-query -W -f='${Depends}' "$package_name")"
echo "    recommends: $(chroot "$root" dpkg-query -W -f='${Recommends}' "$package_name")"
printf '    %-58s %6.1f s\n' "total" "$(echo "$(date +%s.%N) - $started" | bc)"
