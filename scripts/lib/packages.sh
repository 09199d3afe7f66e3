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
    if ! "${as_root[@]}" apt-get update -qq ||
        ! DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq \
            --no-install-recommends "${missing[@]}" >/dev/null; then
        echo "Could not install these Debian packages: ${missing[*]}" >&2
        return 1
    fi
}
