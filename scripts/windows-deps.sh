#!/usr/bin/env bash
# Builds the libraries the Windows build of the updater needs and Debian ships no mingw-w64
# build of (OpenSSL, POCO, Boost.Filesystem, libpng, libjpeg-turbo), from Debian 12's own
# source packages, with the repository's toolchain file (cmake/mingw-w64.cmake). zlib comes
# from libz-mingw-w64-dev and the Boost headers are the installed ones.
#
#   prefix=$(scripts/windows-deps.sh)
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DUPDATER_WINDOWS_DEPS="$prefix"
#
# The result lands outside the checkout, in
#   ${UPDATER_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-~/.cache}/veltora-updater/windows-deps}/KEY
# where KEY is a hash of the source versions, the cross toolchain's versions and this
# recipe; a prefix is reused only when its completion marker, written last, is there, so an
# interrupted build is done again. Progress goes to standard error, the prefix alone to
# standard output. Anything that cannot be fetched or built ends the script with one line
# naming it and a non-zero status. JOBS sets the build parallelism (default 2).
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
source "$repository/scripts/lib/packages.sh"
jobs=${JOBS:-2}
cache_root=${UPDATER_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veltora-updater/windows-deps}
triplet=x86_64-w64-mingw32
toolchain=$repository/cmake/mingw-w64.cmake

host_packages=(
    cmake make perl dpkg-dev patch xz-utils bzip2 debian-archive-keyring
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev libboost1.74-dev
)
# The source packages built here; their versions make up the cache key.
source_packages=(openssl poco boost1.74 libpng1.6 libjpeg-turbo)

say() { echo "windows-deps: $*" >&2; }
fail() {
    say "$*"
    exit 1
}

# apt works on a deb-src list and package lists of its own, so /etc/apt stays untouched.
apt_state=$cache_root/apt
apt_options=(
    -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_state/sources"
    -o "Dir::State::Lists=$apt_state/lists" -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
    -o "APT::Sandbox::User=root" -o "Acquire::Retries=3"
)

update_source_lists() {
    mkdir -p "$apt_state/sources" "$apt_state/lists/partial"
    cat >"$apt_state/sources/debian-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    # One refresh at a time: apt gives up at once on lists that another run has locked.
    if flock "$apt_state/sources" apt-get "${apt_options[@]}" update -qq \
        >"$apt_state/update.log" 2>&1; then
        return 0
    fi
    # Without a network the lists of an earlier run still name the cached prefix.
    compgen -G "$apt_state/lists/*Sources*" >/dev/null ||
        fail "the Debian source lists could not be fetched: $(tail -1 "$apt_state/update.log")"
    say "the Debian source lists could not be refreshed; using the ones from an earlier run"
}

# Versions of a source package, newest first.
source_versions() {
    local versions=() version sorted=() index
    mapfile -t versions < <(apt-cache "${apt_options[@]}" showsrc --only-source "$1" 2>/dev/null |
        sed -n 's/^Version: //p' | sort -u)
    for version in "${versions[@]}"; do
        index=0
        while [ $index -lt ${#sorted[@]} ] &&
            dpkg --compare-versions "${sorted[$index]}" gt "$version"; do
            index=$((index + 1))
        done
        sorted=("${sorted[@]:0:$index}" "$version" "${sorted[@]:$index}")
    done
    printf '%s\n' "${sorted[@]}"
}

# Boost.Filesystem's sources must match the installed headers.
wanted_versions() {
    if [ "$1" = boost1.74 ]; then
        dpkg-query -W -f='${Version}\n' libboost1.74-dev
    else
        source_versions "$1"
    fi
}

compute_key() {
    {
        sha256sum "$0" "$toolchain" | cut -d' ' -f1
        dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix \
            mingw-w64-x86-64-dev libz-mingw-w64-dev libboost1.74-dev
        local package
        for package in "${source_packages[@]}"; do
            echo "$package $(wanted_versions "$package" | head -1)"
        done
    } | sha256sum | cut -c1-16
}

# Runs a build step with its output in a log; a failure names the step and shows the
# log's end. The step runs in the background so that a failing command inside it ends it
# (errexit would be off inside a condition).
step() {
    local name=$1 log=$work/logs/$1.log started=$SECONDS
    shift
    say "$name"
    times >"$work/logs/times-before"
    ("$@") >"$log" 2>&1 &
    if ! wait $!; then
        tail -n 25 "$log" >&2
        fail "$name could not be built for Windows (whole log: $log)"
    fi
    times >"$work/logs/times-after"
    say "$name: $((SECONDS - started)) s, $(cpu_seconds_between "$work/logs/times-before" \
        "$work/logs/times-after") CPU-s"
}

# The user and system time that this shell's finished children took between two outputs of
# "times" (run in this shell itself: a subshell counts only its own children).
cpu_seconds_between() {
    awk 'FNR == 2 {
        total = 0
        for (field = 1; field <= 2; ++field) {
            split($field, part, "m")
            total += part[1] * 60 + part[2]
        }
        sum += (FILENAME == ARGV[1] ? -total : total)
    }
    END { printf "%d\n", sum }' "$1" "$2"
}

# Downloads a source package into its own folder; the newest version sometimes answers 404
# on the mirror while the one before it is there, so older versions are tried in turn.
fetch_source() {
    local package=$1 folder=$work/sources/$1 version
    local versions
    mapfile -t versions < <(wanted_versions "$package")
    [ ${#versions[@]} -gt 0 ] || fail "no source version of $package is listed"
    for version in "${versions[@]}"; do
        rm -rf "$folder"
        mkdir -p "$folder"
        if (cd "$folder" && apt-get "${apt_options[@]}" source --download-only -qq \
            "$package=$version") >"$work/logs/fetch-$package.log" 2>&1; then
            echo "$package $version" >>"$work/versions"
            return 0
        fi
        say "$package $version could not be downloaded; trying the version before it"
    done
    fail "no version of the $package source package could be downloaded" \
        "(see $work/logs/fetch-$package.log)"
}

# Unpacks a downloaded source package with Debian's patches applied; prints its folder.
unpack_source() {
    local folder=$work/sources/$1
    (cd "$folder" && dpkg-source -q -x ./*.dsc unpacked) >"$work/logs/unpack-$1.log" 2>&1 ||
        fail "the $1 source package could not be unpacked (see $work/logs/unpack-$1.log)"
    echo "$folder/unpacked"
}

# The libraries are optimised at -O1: their hot paths (OpenSSL's ciphers and digests) are in
# assembly, and a first build of them costs a fifth less than at -Os or -O3.
optimisation=(-O1 -DNDEBUG)

cmake_for_windows() {
    local source=$1 build=$2
    shift 2
    cmake -S "$source" -B "$build" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="${optimisation[*]}" \
        -DCMAKE_CXX_FLAGS_RELEASE="${optimisation[*]}" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DUPDATER_WINDOWS_DEPS="$prefix" "${launcher[@]}" "$@"
}

build_openssl() {
    local source
    source=$(unpack_source openssl)
    # Static libraries only; the updater needs neither engines, loadable modules nor the
    # legacy provider. The configuration folder is the one OpenSSL uses on Windows.
    (cd "$source" && CC=gcc-posix ./Configure mingw64 --cross-compile-prefix=$triplet- \
        --prefix="$prefix" --libdir=lib --openssldir="C:/Program Files/Common Files/SSL" \
        no-shared no-tests no-module no-legacy no-engine no-dso no-ui-console \
        no-ssl3 no-dtls no-srp no-comp "${optimisation[@]}")
    make -C "$source" -j "$jobs" CC="${compiler_launcher}$triplet-gcc-posix" build_libs
    make -C "$source" install_dev
}

# POCO's headers name two Windows headers in mixed case (mingw's are lower case), and
# wincrypt.h defines TIMESTAMP_REQUEST as a macro that breaks an enum of the ICMP code.
# Util is built without its XML and JSON configurations, so its package file must not ask
# for those libraries.
fix_poco_for_mingw() {
    local source=$1
    sed -i '/find_dependency(Poco\(XML\|JSON\))/d' "$source/Util/cmake/PocoUtilConfig.cmake"
    sed -i 's/<Winsock2.h>/<winsock2.h>/; s/<Iphlpapi.h>/<iphlpapi.h>/' \
        "$source/Foundation/include/Poco/UnWindows.h"
    sed -i '/^namespace Poco {/i #undef TIMESTAMP_REQUEST\n' \
        "$source/Net/include/Poco/Net/ICMPv4PacketImpl.h"
}

build_poco() {
    local source
    source=$(unpack_source poco)
    fix_poco_for_mingw "$source"
    local enabled=(FOUNDATION NET UTIL CRYPTO NETSSL)
    local disabled=(XML JSON ENCODINGS MONGODB DATA DATA_SQLITE DATA_MYSQL DATA_POSTGRESQL
        DATA_ODBC REDIS ZIP PAGECOMPILER PAGECOMPILER_FILE2PAGE ACTIVERECORD
        ACTIVERECORD_COMPILER JWT APACHECONNECTOR PDF SEVENZIP CPPPARSER POCODOC TESTS
        NETSSL_WIN)
    local options=() name
    for name in "${enabled[@]}"; do options+=("-DENABLE_$name=ON"); done
    for name in "${disabled[@]}"; do options+=("-DENABLE_$name=OFF"); done
    cmake_for_windows "$source" "$work/build/poco" "${options[@]}" -DBUILD_SHARED_LIBS=OFF \
        -DPOCO_UNBUNDLED=OFF -DCMAKE_MC_COMPILER="$(command -v $triplet-windmc)" \
        -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON
    cmake --build "$work/build/poco" -j "$jobs"
    cmake --install "$work/build/poco"
}

# Boost.Filesystem is the only compiled Boost library the updater uses. Only its sources
# are taken from the (large) Boost source package, with those of Debian's patches that
# change them. The headers are the installed ones, reached through a link in the prefix.
build_boost_filesystem() {
    local folder=$work/sources/boost1.74 source
    source=$folder/boost
    tar -xJf "$folder"/boost1.74_*.orig.tar.xz -C "$folder" --wildcards 'boost/libs/filesystem/src/*'
    tar -xJf "$folder"/boost1.74_*.debian.tar.xz -C "$folder"
    local patch
    while read -r patch; do
        [ -n "$patch" ] || continue
        if ! grep '^+++ ' "$folder/debian/patches/$patch" | grep -qv ' b/libs/filesystem/src/'; then
            patch -d "$source" -p1 <"$folder/debian/patches/$patch"
        fi
    done < <(sed 's/#.*//' "$folder/debian/patches/series")

    mkdir -p "$prefix/include" "$prefix/lib" "$work/build/boost"
    ln -sfn /usr/include/boost "$prefix/include/boost"
    local objects=() file running=0
    for file in "$source"/libs/filesystem/src/*.cpp; do
        objects+=("$work/build/boost/$(basename "$file" .cpp).o")
        # Boost's own build uses the BCrypt random source where the system has it.
        $compiler_launcher$triplet-g++-posix -std=c++17 "${optimisation[@]}" -DBOOST_FILESYSTEM_SOURCE \
            -DBOOST_FILESYSTEM_STATIC_LINK=1 -DBOOST_FILESYSTEM_HAS_BCRYPT -DBOOST_ALL_NO_LIB \
            -I"$prefix/include" -c "$file" -o "${objects[-1]}" &
        running=$((running + 1))
        if [ $running -ge "$jobs" ]; then
            wait -n
            running=$((running - 1))
        fi
    done
    while [ $running -gt 0 ]; do
        wait -n
        running=$((running - 1))
    done
    $triplet-ar rcs "$prefix/lib/libboost_filesystem.a" "${objects[@]}"
}

build_libpng() {
    local source
    source=$(unpack_source libpng1.6)
    cmake_for_windows "$source" "$work/build/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
        -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF -DZLIB_USE_STATIC_LIBS=ON -DSKIP_INSTALL_PROGRAMS=ON \
        -DSKIP_INSTALL_FILES=ON
    cmake --build "$work/build/libpng" -j "$jobs"
    cmake --install "$work/build/libpng"
}

# The static library and the headers of the libjpeg API (with jpegint.h, which JUCE reads
# as Debian's libjpeg-dev provides it); no tools.
build_libjpeg() {
    local source build=$work/build/libjpeg
    source=$(unpack_source libjpeg-turbo)
    cmake_for_windows "$source" "$build" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JAVA=OFF
    cmake --build "$build" -j "$jobs" --target jpeg-static
    mkdir -p "$prefix/include" "$prefix/lib"
    cp "$build/libjpeg.a" "$prefix/lib/"
    cp "$build/jconfig.h" "$source"/{jpeglib.h,jmorecfg.h,jerror.h,jpegint.h} "$prefix/include/"
    # Windows' jconfig.h leaves "boolean" to rpcndr.h when that came first; JUCE includes
    # jpeglib.h inside a namespace of its own after windows.h, and needs the type there.
    # Both are unsigned char, so declaring it again is harmless for C and C++ alike.
    sed -i '/#ifndef __RPCNDR_H__/,/#endif/{/^#/d}' "$prefix/include/jconfig.h"
    grep -q '^typedef unsigned char boolean;' "$prefix/include/jconfig.h"
}

write_manifest() {
    {
        echo "Windows dependencies of the Veltora updater ($triplet), built from Debian sources:"
        cat "$work/versions"
        dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix \
            mingw-w64-x86-64-dev libz-mingw-w64-dev libboost1.74-dev
    } >"$prefix/manifest.txt"
}

main() {
    # Standard output carries only the prefix.
    install_packages "${host_packages[@]}" >&2 ||
        fail "the host packages could not be installed: ${host_packages[*]}"
    update_source_lists
    key=$(compute_key)
    prefix=$cache_root/$key
    work=$cache_root/$key.work

    # Two runs at once (two checkouts, say) build one prefix, one after the other.
    mkdir -p "$cache_root"
    exec 9>"$cache_root/$key.lock"
    flock 9

    if [ -f "$prefix/.complete" ] && [ -e "$prefix/include/boost/version.hpp" ]; then
        say "reusing $prefix"
        echo "$prefix"
        exit 0
    fi

    say "building into $prefix (logs in $work/logs)"
    rm -rf "$prefix" "$work"
    mkdir -p "$prefix" "$work/logs" "$work/sources" "$work/build"

    launcher=()
    compiler_launcher=""
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        compiler_launcher="ccache "
        # Headers from the compiler's dependency files: no second preprocessor run per object.
        export CCACHE_DEPEND=1
    fi

    for package in "${source_packages[@]}"; do
        fetch_source "$package"
    done
    step "OpenSSL" build_openssl
    step "POCO" build_poco
    step "Boost.Filesystem" build_boost_filesystem
    step "libpng" build_libpng
    step "libjpeg-turbo" build_libjpeg
    write_manifest
    rm -rf "$work"
    touch "$prefix/.complete"
    say "done: $prefix"
    echo "$prefix"
}

main "$@"
