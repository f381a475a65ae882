#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a throw-away root and checks the desktop files with the reference
# validators: the launcher, the AppStream metainfo, and an icon of the right size in every
# hicolor folder.
set -euo pipefail
build=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
share=$root/usr/share
id=org.example.Quillora

[ -x "$root/usr/bin/quillora" ] || fail "no /usr/bin/quillora"
desktop-file-validate "$share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "^Icon=$id$" "$share/applications/$id.desktop" || fail "the launcher names another icon"

# Width and height stand at bytes 16 to 23 of a PNG, in its IHDR chunk.
png_size() {
    local width height
    width=$(od -An -tu4 --endian=big -j16 -N4 "$1" | tr -d ' ')
    height=$(od -An -tu4 --endian=big -j20 -N4 "$1" | tr -d ' ')
    echo "${width}x$height"
}
count=0
for size in 16 24 32 48 64 128 256; do
    icon=$share/icons/hicolor/${size}x$size/apps/$id.png
    [ -f "$icon" ] || fail "no ${size}x$size icon"
    [ "$(png_size "$icon")" = "${size}x$size" ] || fail "$icon is $(png_size "$icon")"
    count=$((count + 1))
done
grep -q '<svg' "$share/icons/hicolor/scalable/apps/$id.svg" || fail "no scalable icon"
extra=$(find "$share/icons" -type f | grep -v "/apps/$id\.\(png\|svg\)$" || true)
[ -z "$extra" ] || fail "unexpected files: $extra"
echo "PASS: launcher and metainfo valid; $count sized icons and one scalable icon"
