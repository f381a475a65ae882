#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SIGKILL at random moments of a large save leaves either the old notes file or the new
# one, byte for byte, never a mix or a truncated file. Runs the Linux program, asked to
# end by SIGTERM, or quillora.exe under Wine (inside tests/wine/session.sh), asked by
# closing its window and killed as Task Manager's End task would. A killed save may leave
# nothing else but its temporary file: "notes.dat.saving-*.tmp" on Windows, and on Linux
# QSaveFile's "notes.dat.XXXXXX" where the file system has no unnamed temporary files.
# Then a session that added a note is killed, right after the Add or anywhere in its save:
# the next start has that note exactly once, from the session journal or the saved file.
. "$(dirname "$0")/lib.sh" "$@"
if [[ $QUILLORA == *.exe ]]; then
    run() { "$WINE" "$QUILLORA" & }
    ask_to_end() { close_window Quillora; }
    iterations=${KILL_ITERATIONS:-20}
    journal_kills=${JOURNAL_KILLS:-4}
    unfinished='notes\.dat\.saving-.*\.tmp'
    # Under Wine only the title is typed (lib.sh).
    added='^Groceries |  |'
    rescue_dir=$("$WINE" winepath -u "$("$WINE" cmd /c echo %LOCALAPPDATA% 2>/dev/null |
        tr -d '\r')\\Tolvane\\Quillora" 2>/dev/null)
    rm -rf "$rescue_dir"
else
    start_x
    run() { "$QUILLORA" 2>>program.log & }
    ask_to_end() { kill -TERM $pid; }
    # Under emulation each run loads and saves 20,000 notes several times slower, and the
    # save's system calls are those of every other run: a dozen kills there.
    iterations=${KILL_ITERATIONS:-40}
    [ -z "$EMULATOR" ] || iterations=${KILL_ITERATIONS:-12}
    journal_kills=${JOURNAL_KILLS:-6}
    unfinished='notes\.dat\.......'
    added='^Groceries | milk and eggs bread |'
    rescue_dir=$XDG_DATA_HOME/Tolvane/Quillora
fi

# Starts the program on notes.dat and asks it to save and end once its window is up.
start_and_terminate() {
    run
    pid=$!
    wait_window Quillora 60 >/dev/null
    ask_to_end
    started=$(now_ms)
}

# Rows of two strings: the program's save pads them to four, so old and new differ.
"$NOTESGEN" write old.dat 20000 11 2
cp old.dat notes.dat
ln notes.dat loaded.link

# One undisturbed run: the new file, when it replaced the old one, and when the run ended.
start_and_terminate
while [[ notes.dat -ef loaded.link ]] && kill -0 $pid 2>/dev/null; do :; done
replaced_ms=$(($(now_ms) - started))
wait_exit $pid 60
total_ms=$(($(now_ms) - started + 1))
[ "$EXIT_CODE" = 0 ] || fail "undisturbed run ended with $EXIT_CODE: $(cat program.log)"
cp notes.dat new.dat
cmp -s old.dat new.dat && fail "the save did not change the file"
echo "old file $(stat -c %s old.dat) bytes, new $(stat -c %s new.dat) bytes;" \
    "replaced $replaced_ms ms after the request to end, ended after $total_ms ms"

olds=0 news=0
for ((i = 1; i <= iterations; i++)); do
    rm -f notes.dat loaded.link
    cp old.dat notes.dat
    start_and_terminate
    if ((i % 2)); then
        # Anywhere from the request to the end of the run.
        delay=$((RANDOM % total_ms))
    else
        # In the last 60 ms before the new file took the old one's place: writing it.
        delay=$((replaced_ms - 60 + RANDOM % 70))
        ((delay >= 0)) || delay=0
    fi
    sleep_ms $delay
    kill -KILL $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    if cmp -s notes.dat old.dat; then
        olds=$((olds + 1))
    elif cmp -s notes.dat new.dat; then
        news=$((news + 1))
    else
        fail "iteration $i, killed $delay ms after the request: notes.dat is neither the old nor the new file"
    fi
done
# With a change in the session journal: killed right after the Add (every third run) or
# anywhere in the save, the next start has the list of that session, recovered or saved,
# never twice and never without it.
recovered=0
for ((i = 1; i <= journal_kills; i++)); do
    rm -f notes.dat loaded.link
    cp old.dat notes.dat
    run
    pid=$!
    main=$(wait_window Quillora 60)
    add_new_note "$main" "Groceries" "milk and eggs" "bread"
    # New Note's window goes just before the note is recorded, and the first record also
    # makes the journal: on a busy machine, and more so under emulation, a kill right after
    # the window has gone can come first (typing that recent may be lost, as the README
    # says). The record is given a moment.
    sleep_ms $((300 * SLOWER))
    if ((i % 3 != 1)); then
        ask_to_end
        sleep_ms $((RANDOM % total_ms))
    fi
    kill -KILL $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    run
    pid=$!
    wait_window Quillora 60 >/dev/null
    if wait_for $((5 * SLOWER)) has_window "Notes Recovered"; then
        recovered=$((recovered + 1))
        xdotool windowactivate --sync "$(window_id "Notes Recovered")" >/dev/null 2>&1 || true
        xdotool key Return
        wait_for $((10 * SLOWER)) bash -c "! xdotool search --onlyvisible --name '^Notes Recovered\$'" ||
            fail "the recovery box stayed"
    elif ((i % 3 == 1)); then
        fail "journal kill $i: killed right after the Add, and nothing was recovered"
    fi
    ask_to_end
    wait_exit $pid 60
    [ "$EXIT_CODE" = 0 ] || fail "journal kill $i: exit code $EXIT_CODE: $(cat program.log 2>/dev/null)"
    dump=$("$NOTESGEN" dump notes.dat)
    [ "$(head -n 1 <<<"$dump")" = "rows 20001 whole" ] &&
        [ "$(grep -c "$added" <<<"$dump")" = 1 ] ||
        fail "journal kill $i: notes.dat holds $(head -n 1 <<<"$dump"), $(grep -c '^Groceries' <<<"$dump") added notes"
    [ ! -e "$rescue_dir" ] || fail "journal kill $i: notes were rescued: $(ls "$rescue_dir")"
done
echo "PASS: $journal_kills kills after adding a note or during the save: the note came back" \
    "once each time, $recovered times from the journal"

left=$(ls | grep -vx -e notes.dat -e old.dat -e new.dat -e program.log -e "$unfinished" || true)
[ -z "$left" ] || fail "left behind: $left"
[ $olds -gt 0 ] && [ $news -gt 0 ] || echo "note: all kills fell on one side of the save"
echo "PASS: $iterations kills: $olds left the old file, $news the new one; never a mix;" \
    "$(ls | grep -cx "$unfinished" || true) files of unfinished saves"
