#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian/Ubuntu packages that one of Quillora's tasks needs, and nothing when
# they are all present. Uses sudo when not run as root.
#   scripts/install-deps.sh [--list] run|package|test|windows|arm64|powercut [extra ...]
#     run      building and running Quillora
#     package  also what CPack needs to build the Debian package
#     test     also everything the test suite drives: sanitizers and libFuzzer (clang),
#              X and Wayland servers, the desktop's OpenGL drivers, validators, and the
#              checkers of the package (lintian, hardening-check from devscripts)
#     windows  the MinGW-w64 cross-compiler, Wine and NSIS for the Windows build, and
#              tclsh, which makes SQLite's source into the one file that it builds
#     arm64    the cross-build for 64-bit ARM with Debian's multiarch: the cross-compiler,
#              the arm64 libraries beside this machine's Qt tools, QEMU to run what it
#              builds, and the tools of its tests and of its package's checks
#     powercut the power-cut harness: QEMU, a static busybox for its guest, the kernel's
#              module tools, and the tools that make and mount the file systems it tests
#   --list only prints the packages, for a system made with them (scripts/debian13.sh)
set -eu

list=
[ "${1:-}" != --list ] || { list=1; shift; }
task=${1:-run}
[ $# -eq 0 ] || shift

run="cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev libsqlite3-dev fonts-dejavu-core"
package="$run dpkg-dev file"
test="$package clang
    xvfb xauth openbox xdotool wmctrl weston qt6-wayland libgl1-mesa-dri
    binutils-mingw-w64-x86-64 icoutils desktop-file-utils appstream lintian devscripts
    fiu-utils strace dbus-daemon exfatprogs exfat-fuse"
windows="$run ninja-build dpkg-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    icoutils wine64 fonts-wine xvfb xauth openbox xdotool wmctrl inotify-tools nsis
    imagemagick tcl"
arm64="cmake make g++ dpkg-dev file qt6-base-dev qt6-base-dev-tools fonts-dejavu-core
    crossbuild-essential-arm64 qt6-base-dev:arm64 qt6-qpa-plugins:arm64 libgl-dev:arm64
    libsqlite3-dev:arm64 qt6-wayland:arm64 qemu-user xvfb xauth openbox xdotool wmctrl weston
    strace dbus-daemon lintian devscripts"
powercut="$run qemu-system-x86 busybox-static kmod cpio dmsetup e2fsprogs xfsprogs
    btrfs-progs dosfstools exfatprogs"

case $task in
run) packages=$run ;;
package) packages=$package ;;
test) packages=$test ;;
windows) packages=$windows ;;
arm64) packages=$arm64 ;;
powercut) packages=$powercut ;;
*)
    echo "usage: $0 run|package|test|windows|arm64|powercut [extra-package ...]" >&2
    exit 2
    ;;
esac
packages="$packages $*"
if [ -n "$list" ]; then
    echo $packages
    exit 0
fi

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
    # An install that would remove packages stops instead: arm64 libraries must never
    # take this machine's own away.
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        --no-remove $1
}

if [ "$task" = arm64 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    as_root dpkg --add-architecture arm64
fi
todo=$(missing "$packages")
[ -z "$todo" ] || install "$todo"

[ "$task" = test ] || exit 0
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
