#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# With real input: "New Note", a title and a two-line text, "Add", then "Exit". The program
# exits with 0, notes.dat holds the note, and the next run still has it in its list. Then
# finding: Ctrl+F and a word make its note the current one, and Escape gives the list the
# focus back, so that Delete Note deletes that note.
. "$(dirname "$0")/lib.sh" "$@"
start_x

"$QUILLORA" &
pid=$!
main=$(wait_window Quillora)
add_new_note "$main" "Groceries" "milk and eggs" "bread"

xdotool windowactivate --sync "$main" 2>/dev/null || true
notes_menu "$main" Up
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"

dump=$("$NOTESGEN" dump notes.dat)
expected='^Groceries \| milk and eggs bread \| [0-9]{4}-[0-9]{2}-[0-9]{2} (0[1-9]|1[0-2]):[0-9]{2} (AM|PM) \| milk and eggs\\nbread$'
[ "$(head -n 1 <<<"$dump")" = "rows 1 whole" ] || fail "notes.dat: $dump"
grep -Eq "$expected" <<<"$dump" || fail "notes.dat holds: $dump"

# The note is in the list of the next run: closing that run saves it again.
rm -f "$XDG_CONFIG_HOME/Tolvane/Quillora.conf"
cp notes.dat first.dat
"$QUILLORA" &
pid=$!
wait_window Quillora >/dev/null
close_window Quillora
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "second run ended with $EXIT_CODE"
cmp -s notes.dat first.dat || fail "the second run did not keep the note"

# Killed with a note just added and another one typed for three seconds: the next start
# shows the added note in the list and the typed one in its window, and saves both.
"$QUILLORA" &
pid=$!
main=$(wait_window Quillora)
add_new_note "$main" "Killed" "after" "adding"
type_new_note "$main" "Draft" "typed" "before the kill" >/dev/null
sleep 3
kill -KILL $pid
wait $pid 2>/dev/null || true
cmp -s notes.dat first.dat || fail "the killed run wrote notes.dat"
"$QUILLORA" &
pid=$!
box=$(wait_window "Notes Recovered")
xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
xdotool key Return
dialog=$(wait_window "New Note")
focus_window "$dialog" || fail "the recovered draft's window never got the focus"
sleep_ms $((300 * SLOWER))
xdotool key Return
wait_for $((10 * SLOWER)) bash -c "! xdotool search --onlyvisible --name '^New Note\$'" ||
    fail "the recovered draft was not added"
close_window Quillora
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "the run after the kill ended with $EXIT_CODE"
dump=$("$NOTESGEN" dump notes.dat)
[ "$(head -n 1 <<<"$dump")" = "rows 3 whole" ] && grep -q '^Killed | after adding |' <<<"$dump" &&
    grep -q '^Draft | typed before the kill | .* | typed\\nbefore the kill$' <<<"$dump" ||
    fail "after the kill, notes.dat holds: $dump"
[ "$(ls -A)" = "first.dat
notes.dat" ] || fail "left behind: $(ls -A)"

# Found by a word of its text, in any case, and deleted.
"$QUILLORA" &
pid=$!
main=$(wait_window Quillora)
focus_window "$main" || true
xdotool key ctrl+f
sleep_ms $((300 * SLOWER))
xdotool type --delay 50 "ADDING"
sleep_ms $((1000 * SLOWER))
xdotool key Escape
sleep_ms $((300 * SLOWER))
notes_menu "$main" "Down Down Down"
sleep_ms $((300 * SLOWER))
close_window Quillora
wait_exit $pid
dump=$("$NOTESGEN" dump notes.dat)
[ "$(head -n 1 <<<"$dump")" = "rows 2 whole" ] && ! grep -q '^Killed | ' <<<"$dump" ||
    fail "the note found was not the one deleted: $dump"
echo "PASS: note typed, added, saved on Exit and loaded again; after a kill, the added note" \
    "and the one being typed came back; a note found by typing was the one deleted"
