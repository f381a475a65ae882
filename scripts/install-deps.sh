#!/bin/sh
# Installs the Debian/Ubuntu packages that building and testing Quillora need, and nothing
# when they are all present. Uses sudo when not run as root.
#   scripts/install-deps.sh [extra-package ...]
set -eu

packages="cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev
    clang
    xvfb xauth openbox xdotool wmctrl fonts-dejavu-core weston qt6-wayland
    binutils-mingw-w64-x86-64 icoutils
    desktop-file-utils appstream dpkg-dev file
    $*"

missing() {
    for package in $1; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
            printf '%s ' "$package"
    done
}

as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

install() {
    echo "Installing: $1"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $1
}

todo=$(missing "$packages")
[ -z "$todo" ] || install "$todo"

# libFuzzer comes with the runtime of the default clang's version.
clang_major=$(clang -dumpversion | cut -d. -f1)
todo=$(missing "libclang-rt-$clang_major-dev")
if [ -n "$todo" ]; then
    as_root apt-get update -qq
    # Older releases ship the runtime inside libclang-common-N-dev instead.
    if apt-cache show $todo >/dev/null 2>&1; then
        install "$todo"
    fi
fi
exit 0
