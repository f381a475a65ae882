#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SIGTERM, SIGINT and SIGHUP end the program like closing its window: the notes are saved
# once and the exit code is 0, also when the signal comes before the window exists. Notes
# that can be neither saved nor rescued end it with code 1.
. "$(dirname "$0")/lib.sh" "$@"
start_x

# The toolkit reads the display's authority file while it connects, before any window
# exists; a FIFO that nobody writes to holds the program there.
mkfifo "$SANDBOX/xauthority"
exec 4<>"$SANDBOX/xauthority"
# The program itself, not the shell that forks it: until that shell has closed its own copy
# of the FIFO and started the program, the FIFO shows among its files too.
reads_authority() {
    [ "$(readlink "/proc/$1/exe")" = "$PROGRAM_EXE" ] && ls -l "/proc/$1/fd" | grep -q xauthority
}

"$NOTESGEN" write notes.dat 50 7 2
for signal in TERM INT HUP; do
    if [ $signal = HUP ]; then
        XAUTHORITY=$SANDBOX/xauthority "$QUILLORA" 4>&- &
        pid=$!
        wait_for $((20 * SLOWER)) reads_authority $pid || fail "the program never read its authority file"
        kill -s $signal $pid
        exec 4>&-
    else
        "$QUILLORA" &
        pid=$!
        wait_window Quillora >/dev/null
        kill -s $signal $pid
    fi
    wait_exit $pid
    [ "$EXIT_CODE" = 0 ] || fail "SIG$signal: exit code $EXIT_CODE"
    after=$("$NOTESGEN" dump notes.dat)
    [ "$(head -n 1 <<<"$after")" = "rows 50 whole" ] || fail "SIG$signal: notes.dat holds $(head -n 1 <<<"$after")"
    # Rows of two strings come back with four: the file was rewritten by this run.
    grep -q ' | <null> | <null>$' <<<"$after" || fail "SIG$signal: notes.dat was not saved"
    "$NOTESGEN" write notes.dat 50 7 2
done
ls notes.dat.* >/dev/null 2>&1 && fail "stray files: $(ls notes.dat.*)"

# Another writer replaces notes.dat, and past a file-size limit (SIGXFSZ, as on a full
# disk) neither its backup nor a rescue file can be written.
prlimit --fsize=4096 "$QUILLORA" 2>"$SANDBOX/stderr" &
pid=$!
wait_window Quillora >/dev/null
"$NOTESGEN" write notes.dat 50 8 2
cp notes.dat theirs.dat
kill -s TERM $pid
wait_exit $pid
[ "$EXIT_CODE" = 1 ] || fail "notes lost: exit code $EXIT_CODE: $(cat "$SANDBOX/stderr")"
grep -q 'are lost$' "$SANDBOX/stderr" || fail "nothing said of the lost notes: $(cat "$SANDBOX/stderr")"
cmp -s notes.dat theirs.dat || fail "the other writer's notes.dat was changed"
echo "PASS: SIGTERM, SIGINT and SIGHUP (before the window existed) each saved and exited" \
    "with 0; notes that could not be kept ended it with 1"
