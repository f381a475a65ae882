#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The session journal on volumes a user meets, with real input and a real kill:
#  - a disk that fills up mid-session (a small tmpfs): the box that says so comes up while
#    a note is typed, and leaves that note's window the focus; once there is room again,
#    the next change brings the journal back with the whole list, and a kill after it loses
#    nothing, even once another writer has replaced notes.dat: the list comes back, and
#    their file is kept beside it;
#  - an exFAT stick (through FUSE, on a loop device), whose files are numbered anew at
#    each mount: killed, unmounted and mounted again, the journal is replayed onto the
#    notes.dat it was made from, not taken for another writer's; left, the journal stays
#    for the next start, since the stick may write its removal before the save's rename,
#    and that start discards it by the save's stamp, without a word.
# Both need root for their mounts, in a mount namespace of the test's own; the stick also
# needs a loop device and exFAT's tools. Without them that part is skipped (77 when both are).
if [ -z "${QUILLORA_IN_NAMESPACE:-}" ]; then
    if [ "$(id -u)" != 0 ] || ! unshare --mount --propagation private true 2>/dev/null; then
        echo "SKIP: needs root to mount a file system where the program sees it"
        exit 77
    fi
    QUILLORA_IN_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
. "$(dirname "$0")/lib.sh" "$@"
start_x
rescue_dir=$XDG_DATA_HOME/Tolvane/Quillora
loop=
unmount_all() {
    cd "$SANDBOX"
    umount -l "$SANDBOX/work/stick" 2>/dev/null || true
    umount -l "$SANDBOX/work/full" 2>/dev/null || true
    [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
    cleanup
}
trap unmount_all EXIT

# Starts the program in the current folder after a kill, answers the box that says so,
# leaves, and checks that notes.dat holds ROWS rows with these titles, and nothing was
# rescued instead.
recovered_and_left() {
    local rows=$1
    shift
    "$QUILLORA" 2>>"$SANDBOX/stderr" &
    local pid=$!
    local box
    box=$(wait_window "Notes Recovered")
    focus_window "$box" || true
    xdotool key Return
    wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Notes Recovered\$'" ||
        fail "the recovery box stayed"
    close_window Quillora
    wait_exit $pid
    [ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
    local dump
    dump=$("$NOTESGEN" dump notes.dat)
    [ "$(head -n 1 <<<"$dump")" = "rows $rows whole" ] || fail "notes.dat: $dump"
    for title in "$@"; do
        grep -q "^$title | " <<<"$dump" || fail "no note '$title' in: $dump"
    done
    ! ls "$rescue_dir"/notes-rescued-* >/dev/null 2>&1 ||
        fail "rescued instead: $(ls "$rescue_dir")"
}

# A disk that fills up.
mkdir full
mount -t tmpfs -o size=512k,mode=0755 tmpfs full
cd full
"$NOTESGEN" write notes.dat 3 7
"$QUILLORA" 2>>"$SANDBOX/stderr" &
pid=$!
main=$(wait_window Quillora)
add_new_note "$main" "First" "before" "the disk filled"
dd if=/dev/zero of=filler bs=4k 2>/dev/null || true
dialog=$(type_new_note "$main" "Second" "typed on" "a full disk")
box=$(wait_window "Session Journal Not Written" 10)
sleep_ms $((500 * SLOWER))
[ "$(xdotool getactivewindow)" = "$dialog" ] ||
    fail "the box took the focus from the note being typed"
xdotool type --delay 20 " still typing"
xdotool key shift+Tab Return
wait_for $((10 * SLOWER)) bash -c "! xdotool search --onlyvisible --name '^New Note\$'" ||
    fail "the note typed on a full disk was not added"
grep -q "could not be written" "$SANDBOX/stderr" || fail "nothing on standard error"
close_window "Session Journal Not Written"
wait_for $((10 * SLOWER)) bash -c "! xdotool search --onlyvisible --name '^Session Journal Not Written\$'" ||
    fail "the box stayed"
rm filler
# The journal is tried again a few seconds after it failed.
sleep 4
add_new_note "$main" "Third" "with room" "again"
has_window "Session Journal Not Written" && fail "a second box once the journal came back"
sleep_ms $((300 * SLOWER))
kill -KILL $pid
wait $pid 2>/dev/null || true
"$NOTESGEN" write theirs.tmp 2 9
mv theirs.tmp notes.dat
recovered_and_left 6 First Second Third
backup=$(ls notes.dat.bak-* 2>/dev/null | head -n 1 || true)
[ -n "$backup" ] && [ "$("$NOTESGEN" dump "$backup" | head -n 1)" = "rows 2 whole" ] ||
    fail "the other writer's notes.dat was not kept: $(ls -a)"
cd ..
echo "full disk: the box came, the note being typed kept the focus, and after a kill" \
    "and another writer's notes.dat, every note of both is there"

# An exFAT stick, mounted anew.
command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null &&
    [ -c /dev/fuse ] && truncate -s 16M stick.img && mkfs.exfat stick.img >/dev/null 2>&1 &&
    loop=$(losetup -f --show stick.img 2>/dev/null) || {
    echo "PASS (the exFAT stick skipped: no loop device, FUSE or exFAT tools here)"
    exit 0
}
mkdir stick
mount.exfat-fuse "$loop" stick >/dev/null 2>&1
cd stick
"$NOTESGEN" write notes.dat 3 7
before=$(stat -c %i notes.dat)
"$QUILLORA" 2>>"$SANDBOX/stderr" &
pid=$!
main=$(wait_window Quillora)
add_new_note "$main" "Stick" "on a" "stick"
sleep_ms $((300 * SLOWER))
kill -KILL $pid
wait $pid 2>/dev/null || true
cd ..
umount stick
mount.exfat-fuse "$loop" stick >/dev/null 2>&1
# Files looked at first take the first numbers of the new mount.
touch stick/plugged-in
cd stick
[ "$(stat -c %i notes.dat)" != "$before" ] || fail "notes.dat kept its number: a vacuous test"
recovered_and_left 4 Stick
# FUSE takes no reliable lock: the journal is kept in the folder of rescued notes.
journal() { ls "$rescue_dir"/notes-*.journal 2>/dev/null; }
[ -n "$(journal)" ] || fail "the journal was removed after the save on the stick"
"$QUILLORA" 2>>"$SANDBOX/stderr" &
pid=$!
wait_window Quillora >/dev/null
sleep_ms $((500 * SLOWER))
has_window "Notes Recovered" && fail "a box for the journal of a session that was saved"
close_window Quillora
wait_exit $pid
[ -z "$(journal)" ] || fail "the journal of a saved session stayed"
[ "$("$NOTESGEN" dump notes.dat | head -n 1)" = "rows 4 whole" ] || fail "notes.dat changed"
cd ..
umount stick
echo "PASS: on a full disk and on an exFAT stick mounted anew, nothing the list showed was lost"
