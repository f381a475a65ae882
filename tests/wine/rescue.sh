#!/usr/bin/env bash
# A notes.dat with the read-only attribute and a note added with real input: closing the
# window shows the warning, and after it the program ends with 0, the notes kept in a
# rescue file in %LOCALAPPDATA%\Tolvane\Quillora.
. "$(dirname "$0")/../e2e/lib.sh" "$@"
"$NOTESGEN" write notes.dat 3 7
cp notes.dat original.dat
"$WINE" cmd /c attrib +r notes.dat >/dev/null 2>&1
local_app_data=$("$WINE" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
rescue_dir=$("$WINE" winepath -u "$local_app_data\\Tolvane\\Quillora" 2>/dev/null)
rm -rf "$rescue_dir"

"$WINE" "$QUILLORA" &
pid=$!
main=$(wait_window Quillora 60)
xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
notes_menu "$main" Down
dialog=$(wait_window "New Note")
xdotool windowactivate --sync "$dialog" >/dev/null 2>&1 || true
sleep 0.3
# Return in the title line presses the default button, "Add". (Under Wine, xdotool's
# modifier keys do not reach the program, so the text field could not be left by keys.)
xdotool type --delay 20 "Groceries"
xdotool key Return
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^New Note\$'" || fail "the dialog stayed open"

close_window Quillora
box=$(wait_window "Notes Not Saved" 30)
xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
xdotool key Return
wait_exit $pid 60
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
cmp -s notes.dat original.dat || fail "the read-only notes.dat was changed"

rescued=("$rescue_dir"/notes-rescued-*.dat)
[ ${#rescued[@]} = 1 ] && [ -f "${rescued[0]}" ] || fail "rescue files: ${rescued[*]}"
dump=$("$NOTESGEN" dump "${rescued[0]}")
[ "$(head -n 1 <<<"$dump")" = "rows 4 whole" ] || fail "rescued: $(head -n 1 <<<"$dump")"
grep -q '^Groceries |  | .* | $' <<<"$dump" ||
    fail "rescued: $dump"
echo "PASS: typed note rescued to $local_app_data\\Tolvane\\Quillora\\${rescued[0]##*/}"
