#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command in Debian 13: on a Debian 13 machine as it is, elsewhere inside a minimal
# Debian 13 system that mmdebstrap makes from Debian's archive, with every package of the
# tests and of the Windows build already in it. Called as debian12-arm64.sh or
# debian13-arm64.sh, it runs the command in a Debian 12 or 13 system of its own for the
# arm64 cross-build instead, with the arm64 libraries beside the amd64 tools (multiarch)
# and QEMU to run what it builds, so that this machine's own packages never change for
# them. A system is kept in the user's cache and made anew when its recipe (this script,
# or the package lists of install-deps.sh) changes. Bubblewrap enters it with this checkout, the current directory
# and the cache of Qt for Windows at the same paths as outside, and the machine's network.
#   scripts/debian13.sh COMMAND [ARG ...]
#   scripts/debian13.sh --native   succeeds where this machine is Debian 13 or newer
#   scripts/debian12-arm64.sh COMMAND [ARG ...]
#   scripts/debian13-arm64.sh COMMAND [ARG ...]
# Root is needed nowhere: without it, mmdebstrap makes the system in a user namespace (it
# needs the user's ranges in /etc/subuid and /etc/subgid) and bubblewrap enters it as the
# root of a namespace of its own. The whole script is one block, read before it runs.
set -euo pipefail
{

case $(basename "$0") in
debian12-arm64.sh | debian13-arm64.sh)
    system=$(basename "$0" .sh) tasks=arm64 architectures=amd64,arm64
    suite=bookworm
    [ "$system" = debian12-arm64 ] || suite=trixie
    native() { false; }
    ;;
*)
    system=debian13 suite=trixie tasks="test windows" architectures=amd64
    native() {
        (. /etc/os-release && [ "$ID" = debian ] && [ "${VERSION_ID%%.*}" -ge 13 ]) 2>/dev/null
    }
    ;;
esac
if [ "${1:-}" = --native ]; then
    native
    exit
fi
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG ...]" >&2; exit 2; }
native && exec "$@"

here=$(cd "$(dirname "$0")/.." && pwd)
as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}
# Only these tools come from this machine (newuidmap for a user namespace of more than one
# id); everything else comes from Debian 13.
command -v mmdebstrap >/dev/null && command -v bwrap >/dev/null && command -v newuidmap >/dev/null || {
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        mmdebstrap bubblewrap uidmap
}

packages=$( (for task in $tasks; do "$here/scripts/install-deps.sh" --list "$task"; done
    echo git ca-certificates
    [ "$system" != debian13 ] || echo libclang-rt-dev) | tr -s ' \n' '\n\n' | sort -u | tr '\n' ' ')
key=$( (grep -v '^[[:space:]]*#' "$0" && echo "$packages") | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillora
root=$cache/$system-$key

# Two commands started at once (CI runs its checks beside the build of Qt) make the
# system once: the second waits for the first.
mkdir -p "$cache"
exec 9>"$cache/$system.lock"
flock 9
if [ ! -f "$root.complete" ]; then
    echo "Making a minimal $system system in $root (a few minutes)" >&2
    # The systems made before from other recipes go; another system's name may begin
    # with this one's (debian13-arm64 beside debian13), so only a key may follow it.
    for old in "$cache/$system"-*; do
        rest=${old#"$cache/$system"-}
        case ${rest%%.*} in *[!0-9a-f]* | '') continue ;; esac
        rm -rf "$old"
    done
    archive=http://deb.debian.org/debian
    # deb-src too: Qt for Windows is built from the source of the Qt installed here.
    sources=$(for part in $suite $suite-updates; do
        echo "deb $archive $part main" && echo "deb-src $archive $part main"
    done
        echo "deb $archive-security $suite-security main"
        echo "deb-src $archive-security $suite-security main")
    options=(--variant=minbase --architectures=$architectures --include="${packages// /,}"
        --skip=cleanup/apt/lists)
    if [ "$(id -u)" = 0 ]; then
        mmdebstrap --mode=root "${options[@]}" $suite "$root" - <<<"$sources" >"$cache/$system.log" 2>&1 ||
            { tail -n 40 "$cache/$system.log" >&2; exit 1; }
    else
        mmdebstrap --mode=unshare "${options[@]}" $suite "$root.tar" - <<<"$sources" \
            >"$cache/$system.log" 2>&1 || { tail -n 40 "$cache/$system.log" >&2; exit 1; }
        mkdir "$root"
        tar -C "$root" -xf "$root.tar" --no-same-owner --exclude='./dev/*'
        rm "$root.tar"
        # Entered with the user's id alone, apt cannot switch to its own user to fetch.
        echo 'APT::Sandbox::User "root";' >"$root/etc/apt/apt.conf.d/99quillora-namespace"
    fi
    touch "$root.complete"
fi
exec 9>&-

# The command's environment is the system's, with the few variables that the make targets
# and CI read; /tmp is its own, and its processes end with it.
args=(--bind "$root" / --proc /proc --dev /dev --perms 1777 --tmpfs /tmp
    --perms 1777 --tmpfs /dev/shm --ro-bind /etc/resolv.conf /etc/resolv.conf
    --bind "$cache" "$cache" --bind "$here" "$here" --unshare-pid --die-with-parent
    --cap-add ALL --clearenv --setenv HOME /root --setenv LANG C.UTF-8
    --setenv PATH /usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    --setenv XDG_CACHE_HOME "$(dirname "$cache")" --setenv QUILLORA_SYSTEM "$system")
case $PWD/ in
"$here"/*) ;;
*) args+=(--bind "$PWD" "$PWD") ;;
esac
for variable in CI TERM JOBS; do
    [ -z "${!variable:-}" ] || args+=(--setenv "$variable" "${!variable}")
done
[ "$(id -u)" = 0 ] || args+=(--unshare-user --uid 0 --gid 0)
exec bwrap "${args[@]}" --chdir "$PWD" -- "$@"
}
