#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SIGTERM, SIGINT and SIGHUP end the program like closing its window: the notes are saved
# once and the exit code is 0.
. "$(dirname "$0")/lib.sh" "$@"
start_x

"$NOTESGEN" write notes.dat 50 7 2
for signal in TERM INT HUP; do
    "$QUILLORA" &
    pid=$!
    wait_window Quillora >/dev/null
    kill -s $signal $pid
    wait_exit $pid
    [ "$EXIT_CODE" = 0 ] || fail "SIG$signal: exit code $EXIT_CODE"
    after=$("$NOTESGEN" dump notes.dat)
    [ "$(head -n 1 <<<"$after")" = "rows 50 whole" ] || fail "SIG$signal: notes.dat holds $(head -n 1 <<<"$after")"
    # Rows of two strings come back with four: the file was rewritten by this run.
    grep -q ' | <null> | <null>$' <<<"$after" || fail "SIG$signal: notes.dat was not saved"
    "$NOTESGEN" write notes.dat 50 7 2
done
ls notes.dat.* >/dev/null 2>&1 && fail "stray files: $(ls notes.dat.*)"
echo "PASS: SIGTERM, SIGINT and SIGHUP each saved and exited with 0"
