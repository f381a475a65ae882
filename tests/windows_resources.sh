#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows resource script compiles with MinGW's windres, and holds what the shell and
# the loader need: the icon group IDI_ICON1 of five images, the manifest (Windows 10 and 11,
# per-monitor DPI awareness) and the version information made from VERSION, in US English.
#   windows_resources.sh DIST-WINDOWS-DIR DIR-OF-GENERATED-VERSION.H
set -euo pipefail
dist=$(realpath "$1") generated=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cd "$dist"
for format in res coff; do
    x86_64-w64-mingw32-windres --preprocessor=cpp --preprocessor-arg=-xc --preprocessor-arg=-E \
        -I "$generated" quillora.rc -O $format -o "$work/quillora.$format"
done
x86_64-w64-mingw32-windres -i "$work/quillora.res" -O rc >"$work/decompiled.rc"
rc=$work/decompiled.rc

[ "$(grep -c '^LANGUAGE 9, 1$' "$rc")" -ge 1 ] || fail "not in language 1033"
grep '^LANGUAGE' "$rc" | grep -qv '^LANGUAGE 9, 1$' && fail "a resource in another language"
for id in 1 2 3 4 5; do
    grep -q "^$id 3 /\\* RT_ICON \\*/" "$rc" || fail "icon image $id missing"
done
grep -q '^"IDI_ICON1" 14 /\* RT_GROUP_ICON \*/' "$rc" || fail "no icon group IDI_ICON1"
grep -q 'Has 5 elements' "$rc" || fail "the icon group does not hold five images"
sizes=$(grep -o '"\\[0-7]*\\[0-7]*\\000\\000", 1, 32, [0-9a-fxL]*, [1-5]' "$rc" | cut -c3-5 | tr '\n' ' ')
[ "$sizes" = "020 030 040 060 200 " ] || fail "icon sizes (octal) are $sizes"
grep -q '^1 24 /\* RT_MANIFEST \*/' "$rc" || fail "no manifest with id 1"
manifest=$(grep -o '"[^"]*' "$rc" | tr -d '\n"')
grep -q 'level=asInvoker uiAccess=false' <<<"${manifest//\"/}" || fail "manifest does not ask for asInvoker"
grep -q 'Microsoft.Windows.Common-Controls version=6.0.0.0' <<<"${manifest//\"/}" ||
    fail "manifest does not depend on Common-Controls 6.0.0.0"
grep -q 'supportedOS Id={8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' <<<"${manifest//\"/}" ||
    fail "manifest does not name Windows 10 and 11"
grep -q '>PerMonitorV2</dpiAwareness>' <<<"$manifest" || fail "manifest is not per-monitor (v2) DPI aware"
version=$(sed -n 's/^#define QUILLORA_VERSION_TEXT "\(.*\)"$/\1/p' "$generated/version.h")
numbers=$(sed -n 's/^#define QUILLORA_VERSION_NUMBERS //p' "$generated/version.h" | tr -d ' ')
[ "$version" = "$(head -n 1 ../../VERSION)" ] || fail "version.h says $version"
grep -q "^1 VERSIONINFO$" "$rc" && grep -q "^ FILEVERSION ${numbers//,/, }$" "$rc" || fail "no version resource $numbers"
for value in 'CompanyName", "Tolvane' 'FileDescription", "Quillora' "FileVersion\", \"$version" \
    'LegalCopyright", "Copyright (C) 2026 Tolvane. Licensed under the GNU GPL' \
    'OriginalFilename", "quillora.exe' 'ProductName", "Quillora' "ProductVersion\", \"$version"; do
    grep -qF "VALUE \"$value" "$rc" || fail "version resource lacks $value"
done

# The icon file itself: four 32-bit images with alpha, then a 128-pixel palette PNG.
listing=$(icotool -l quillora.ico)
expected="--icon --index=1 --width=16 --height=16 --bit-depth=32 --palette-size=0
--icon --index=2 --width=24 --height=24 --bit-depth=32 --palette-size=0
--icon --index=3 --width=32 --height=32 --bit-depth=32 --palette-size=0
--icon --index=4 --width=48 --height=48 --bit-depth=32 --palette-size=0
--icon --index=5 --width=128 --height=128 --bit-depth=8 --palette-size=0"
[ "$listing" = "$expected" ] || fail "icon file holds: $listing"
icotool -x --index=5 -r quillora.ico -o "$work/128.png"
head -c 8 "$work/128.png" | od -An -tx1 | grep -q '89 50 4e 47' || fail "the 128-pixel image is not stored as PNG"
grep -q tRNS "$work/128.png" || fail "the 128-pixel PNG has no transparency chunk"
[ "$(od -An -tu1 -j24 -N2 "$work/128.png" | tr -s ' ')" = " 8 3" ] || fail "the 128-pixel PNG is not 8-bit palette"
echo "PASS: resource script compiles; IDI_ICON1 holds 16, 24, 32, 48 and 128 pixels; manifest asInvoker," \
    "Common-Controls 6.0.0.0, Windows 10 and 11, PerMonitorV2; version $version ($numbers); language 1033"
