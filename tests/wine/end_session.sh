#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The user logs off or shuts Windows down (wineboot --end-session): quillora.exe saves
# exactly once and ends with exit code 0.
. "$(dirname "$0")/../e2e/lib.sh" "$@"
"$NOTESGEN" write notes.dat 40 5 2

# Each save puts a new notes.dat in place by a rename.
inotifywait -m -q -e moved_to --format '%e %f' . >"$SANDBOX/events" 2>/dev/null &
watcher=$!
"$WINE" "$QUILLORA" &
pid=$!
wait_window Quillora 60 >/dev/null
sleep 0.5
timeout 60 "$WINE" wineboot --end-session >/dev/null 2>&1 || fail "wineboot --end-session ended with $?"
wait_exit $pid 60
sleep 0.5
kill $watcher 2>/dev/null || true
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
after=$("$NOTESGEN" dump notes.dat)
# Rows of two strings come back with four: the file was rewritten by this run.
[ "$(head -n 1 <<<"$after")" = "rows 40 whole" ] || fail "notes.dat holds $(head -n 1 <<<"$after")"
grep -q ' | <null> | <null>$' <<<"$after" || fail "notes.dat was not saved"
saves=$(grep -c ' notes\.dat$' "$SANDBOX/events" || true)
[ "$saves" = 1 ] || fail "notes.dat was written $saves times: $(cat "$SANDBOX/events")"
echo "PASS: the end of the session saved once and ended with exit code 0"
