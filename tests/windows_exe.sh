#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# quillora.exe as a Windows user gets it: a 64-bit GUI program that needs no DLL but
# Windows' own (Qt, libstdc++, libgcc, libssp and winpthread linked in), stripped,
# hardened (ASLR with high entropy, DEP, the stack protector), and carrying the icon group
# IDI_ICON1, the manifest for Windows 10 and 11 and the version information of VERSION.
set -euo pipefail
exe=$1
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
objdump=x86_64-w64-mingw32-objdump

headers=$($objdump -p "$exe")
grep -q '^Magic[[:space:]]*020b' <<<"$headers" || fail "not a 64-bit (PE32+) program"
grep -q '^Subsystem[[:space:]]*00000002' <<<"$headers" || fail "not a GUI program"
# IMAGE_DLLCHARACTERISTICS_ HIGH_ENTROPY_VA (0x20), DYNAMIC_BASE (0x40), NX_COMPAT (0x100).
flags=0x$(sed -n 's/^DllCharacteristics[[:space:]]*//p' <<<"$headers")
(((flags & 0x160) == 0x160)) || fail "DllCharacteristics $flags lacks ASLR, high-entropy ASLR or DEP"
# The stack protector's failure report comes with libssp, linked only where code uses it.
grep -qa 'stack smashing detected' "$exe" || fail "no stack protector"

# Windows' own libraries, and the API sets it resolves itself.
system='^(advapi32|authz|comdlg32|d3d11|d3d12|d3d9|dwmapi|dwrite|dxgi|gdi32|imm32|kernel32|mpr|msvcrt|netapi32|ole32|oleaut32|setupapi|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|ws2_32|wtsapi32|api-ms-win-.*)\.dll$'
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
others=$(grep -Ev "$system" <<<"$dlls" || true)
[ -z "$others" ] || fail "needs DLLs beside it: $others"

sections=$($objdump -h "$exe")
! grep -q '\.debug' <<<"$sections" || fail "not stripped"
$objdump -t "$exe" 2>/dev/null | grep -q 'no symbols' || fail "symbol table left in"

resources=$(wrestool -l "$exe")
grep -q "type=group_icon" <<<"$resources" && grep -q "name='IDI_ICON1'" <<<"$resources" ||
    fail "no icon group IDI_ICON1: $resources"
grep -q -- '--type=24 --name=1 ' <<<"$resources" || fail "no manifest: $resources"
wrestool -x --raw --type=24 --name=1 "$exe" | grep -q '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' ||
    fail "the manifest does not name Windows 10 and 11"
version=$(head -n 1 "$(dirname "$0")/../VERSION")
strings=$(wrestool -x --raw --type=16 "$exe" | iconv -f UTF-16LE -t UTF-8 -c | tr -c '[:print:]' '\n')
for value in Tolvane Quillora "$version" quillora.exe "GNU GPL, version 3 or later"; do
    grep -qF "$value" <<<"$strings" || fail "the version information lacks $value"
done
echo "PASS: $(stat -c %s "$exe") bytes, 64-bit GUI, $(wc -l <<<"$dlls") system DLLs only, stripped," \
    "ASLR, DEP, stack protector, icon, manifest and version $version"
