#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# quillora.exe under Wine: the window "Quillora" appears at 500 by 350, a close request
# from the window manager saves the empty list and ends with exit code 0, the position is
# stored in the registry under HKCU\Software\Tolvane\Quillora, and the next start puts the
# window back there. Qt prints nothing at start-up: no warning of a DPI awareness that
# the manifest set otherwise. Then finding: the find field, reached with Tab from the list
# (Wine passes xdotool no modifier keys, so no Ctrl+F), makes the note with "Belém" the
# current one for "belem", and once Escape gives the list the focus back, Delete Note
# deletes that note.
. "$(dirname "$0")/../e2e/lib.sh" "$@"
key='HKCU\Software\Tolvane\Quillora'
"$WINE" reg delete "$key" /f >/dev/null 2>&1 || true

QT_FORCE_STDERR_LOGGING=1 "$WINE" "$QUILLORA" 2>"$SANDBOX/stderr.log" &
pid=$!
id=$(wait_window Quillora 60)
[ ! -s "$SANDBOX/stderr.log" ] || fail "printed at start-up: $(cat "$SANDBOX/stderr.log")"
eval "$(xdotool getwindowgeometry --shell "$id")"
[ "$WIDTH" = 500 ] && [ "$HEIGHT" = 350 ] || fail "window is ${WIDTH}x$HEIGHT"
xdotool windowmove "$id" 310 170
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
moved="$X,$Y"
close_window Quillora
wait_exit $pid 60
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
[ "$(od -An -tx1 notes.dat | tr -d ' \n')" = 00000000 ] || fail "notes.dat is not the empty list"

stored=$("$WINE" reg query "$key" /v pos 2>/dev/null | tr -d '\r' | grep -i 'pos') ||
    fail "no value pos under $key"
echo "registry: $stored"

"$WINE" "$QUILLORA" &
pid=$!
id=$(wait_window Quillora 60)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
close_window Quillora
wait_exit $pid 60
[ "$EXIT_CODE" = 0 ] || fail "second run ended with $EXIT_CODE"
[ "$X,$Y" = "$moved" ] || fail "window came back at $X,$Y instead of $moved"

"$NOTESGEN" sample notes.dat
"$WINE" "$QUILLORA" &
pid=$!
id=$(wait_window Quillora 60)
focus_window "$id" || true
xdotool key Tab Tab
sleep 0.5
xdotool type --delay 60 "belem"
sleep 1.5
xdotool key Escape
sleep 0.5
notes_menu "$id" "Down Down Down"
sleep 0.5
close_window Quillora
wait_exit $pid 60
dump=$("$NOTESGEN" dump notes.dat)
[ "$(head -n 1 <<<"$dump")" = "rows 3 whole" ] && ! grep -q '^Trip to Lisbon | ' <<<"$dump" ||
    fail "the note found was not the one deleted: $dump"
echo "PASS: window 500x350, saved on close with exit code 0, position $moved kept in the" \
    "registry; the note found by typing was the one deleted"
