# shellcheck shell=bash
# Shared by the scripts: installs Debian packages that are missing, as root or through sudo.
# Source it, then call
#     install_packages PACKAGE...
# It returns non-zero, after saying which packages it could not install, when apt fails.

install_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing: ${missing[*]}"
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    # Scripts that run side by side install one after the other: apt gives up at once on a
    # package list that another apt holds. The lock is taken on the file opened for reading,
    # so that it works whoever made the file.
    local lock=/tmp/veltora-install-packages.lock
    touch "$lock" 2>/dev/null || true
    if ! (
        flock 9
        "${as_root[@]}" apt-get update -qq &&
            DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq \
                -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}" >/dev/null
    ) 9<"$lock"; then
        echo "Could not install these Debian packages: ${missing[*]}" >&2
        return 1
    fi
}
