#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer under Wine: a silent install puts Quillora in Program Files\Quillora with
# a Start-menu shortcut and an "Apps & features" entry; Quillora started through the
# shortcut keeps notes.dat in the user's profile folder; a silent uninstall removes the
# program and leaves the notes. Needs tests/wine/session.sh around it.
#   installer.sh quillora-VERSION-win64.exe
. "$(dirname "$0")/../e2e/lib.sh" "$1"
installer=$QUILLORA
winpath() { "$WINE" winepath -u "$1" 2>/dev/null; }
expand() { "$WINE" cmd /c echo "$1" 2>/dev/null | tr -d '\r'; }

program_files=$(winpath "$(expand '%ProgramW6432%')\\Quillora")
profile=$(winpath "$(expand '%USERPROFILE%')")
rm -f "$profile/notes.dat"

timeout 120 "$WINE" "$installer" /S || fail "the installer ended with $?"
timeout 120 "$WINESERVER" -w || fail "Wine did not settle"
[ -f "$program_files/quillora.exe" ] || fail "no quillora.exe in $program_files: $(ls "$program_files" 2>&1)"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillora'
entry=$("$WINE" reg query "$uninstall_key" 2>/dev/null | tr -d '\r') || fail "no $uninstall_key"
for value in 'DisplayName.*Quillora' 'DisplayVersion.*1\.0' 'Publisher.*Tolvane' 'UninstallString.*Uninstall\.exe'; do
    grep -q "$value" <<<"$entry" || fail "Apps & features entry lacks $value: $entry"
done
shortcut=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name Quillora.lnk | head -n 1)
[ -n "$shortcut" ] || fail "no Start-menu shortcut"
echo "installed: ${program_files#"$WINEPREFIX"/}, shortcut ${shortcut#"$WINEPREFIX"/}"

"$WINE" start /unix "$shortcut"
wait_window Quillora 60 >/dev/null
close_window Quillora
wait_for 30 bash -c "! xdotool search --name '^Quillora\$'" || fail "Quillora did not end"
timeout 120 "$WINESERVER" -w || fail "Wine did not settle"
[ "$(od -An -tx1 "$profile/notes.dat" | tr -d ' \n')" = 00000000 ] ||
    fail "no notes.dat in the profile folder $profile"
[ ! -e "$program_files/notes.dat" ] || fail "notes.dat went to Program Files"

timeout 120 "$WINE" "$program_files/Uninstall.exe" /S || fail "the uninstaller ended with $?"
# The uninstaller runs on from a copy of itself; wait for it.
timeout 120 "$WINESERVER" -w || fail "Wine did not settle"
wait_for 30 test ! -e "$program_files/quillora.exe" || fail "quillora.exe is still installed"
"$WINE" reg query "$uninstall_key" >/dev/null 2>&1 && fail "the Apps & features entry is still there"
[ -f "$profile/notes.dat" ] || fail "uninstalling removed the notes"
echo "PASS: installed silently, started through the shortcut in the profile folder, uninstalled, notes kept"
