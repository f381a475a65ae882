#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A note typed where notes.dat cannot be saved: closing the window shows a warning, and
# after it is answered (on Linux: after SIGTERM comes instead) the program exits with 0,
# notes.dat as it was and every note kept in a rescue file in the user's data folder. On
# Linux, with no rescue possible either, SIGTERM then ends it with 1, the loss reported on
# standard error. Runs the Linux program, or quillora.exe under
# Wine (inside tests/wine/session.sh). $CAUSE says what is in the way:
#   read-only     a read-only file system on Linux, the read-only attribute on Windows
#   full          a full disk (Windows)
#   held          notes.dat held by another program, without sharing writing or deleting,
#                 for half a minute (Windows; $HOLDFILE is the holding program)
#   held-briefly  held without sharing deleting for about a second, which the save waits
#                 out: no warning, the note saved (Windows)
# File systems are tmpfs mounts in a mount namespace of the test's own, or of the Wine
# session's, whose server opens the files; they need root and are skipped (77) without.
cause=${CAUSE:-read-only}
[[ $1 == *.exe ]] && windows=1 || windows=
mounts=
[ "$cause" = full ] || { [ "$cause" = read-only ] && [ -z "$windows" ]; } && mounts=1
if [ -n "$mounts" ] && [ -z "${QUILLORA_IN_NAMESPACE:-}" ]; then
    if [ -n "$windows" ] || [ "$(id -u)" != 0 ] ||
        ! unshare --mount --propagation private true 2>/dev/null; then
        echo "SKIP: needs root to mount a file system where the program sees it"
        exit 77
    fi
    QUILLORA_IN_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
. "$(dirname "$0")/lib.sh" "$@"

if [ -n "$windows" ]; then
    run() { "$WINE" "$QUILLORA" & }
    rescue_dir=$("$WINE" winepath -u "$("$WINE" cmd /c echo %LOCALAPPDATA% 2>/dev/null |
        tr -d '\r')\\Tolvane\\Quillora" 2>/dev/null)
    rm -rf "$rescue_dir"
    # Under Wine only the title is typed (lib.sh).
    typed='^Groceries |  | .* | $'
else
    start_x
    run() { "$QUILLORA" 2>"$SANDBOX/stderr" & }
    rescue_dir=$XDG_DATA_HOME/Tolvane/Quillora
    typed='^Groceries | milk and eggs bread | .* | milk and eggs\\nbread$'
fi

mkdir place
trap '[ -z "$mounts" ] || umount -l "$SANDBOX/work/place"; cleanup' EXIT
[ -z "$mounts" ] || mount -t tmpfs -o size=256k,mode=0755 tmpfs place
cd place
"$NOTESGEN" write notes.dat 3 7
cp notes.dat ../original.dat
case $cause in
read-only)
    if [ -n "$windows" ]; then
        "$WINE" cmd /c attrib +r notes.dat >/dev/null 2>&1
    else
        mount -o remount,ro "$SANDBOX/work/place"
    fi
    ;;
full) dd if=/dev/zero of=filler bs=4k 2>/dev/null || true ;;
esac

run
pid=$!
main=$(wait_window Quillora 60)
add_new_note "$main" "Groceries" "milk and eggs" "bread"

case $cause in
held) hold=(r 30000) ;;
held-briefly) hold=(rw 1200) ;;
esac
if [ -n "${hold:-}" ]; then
    "$WINE" "$HOLDFILE" notes.dat "${hold[0]}" "${hold[1]}" "Z:$SANDBOX/held" &
    wait_for 30 test -e "$SANDBOX/held" || fail "the file was never held"
    held=$(now_ms)
fi
asked=$(now_ms)
close_window Quillora
if [ "$cause" = held-briefly ]; then
    wait_exit $pid 60
    [ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
    after=$("$NOTESGEN" dump notes.dat)
    [ "$(head -n 1 <<<"$after")" = "rows 4 whole" ] && grep -q "$typed" <<<"$after" ||
        fail "notes.dat holds: $after"
    [ ! -e "$rescue_dir" ] || fail "notes were rescued: $(ls "$rescue_dir")"
    echo "PASS: held for ${hold[1]} ms from $((asked - held)) ms before the close request;" \
        "saved, and ended $(($(now_ms) - asked)) ms after it, with exit code 0"
    exit 0
fi
box=$(wait_window "Notes Not Saved" 15)
shown=$(now_ms)
kill -0 $pid 2>/dev/null || fail "the program ended before the warning was answered"
if [ -n "$windows" ]; then
    xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
    xdotool key Return
else
    # Asked to end while the warning waits: it is closed, and nothing is rescued twice.
    kill -s TERM $pid
fi
wait_exit $pid 60
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
cmp -s notes.dat ../original.dat || fail "notes.dat was changed"
left=$(ls -A | grep -vx -e notes.dat -e filler || true)
[ -z "$left" ] || fail "left behind: $left"

rescued=("$rescue_dir"/notes-rescued-*.dat)
[ ${#rescued[@]} = 1 ] && [ -f "${rescued[0]}" ] || fail "rescue files: ${rescued[*]}"
dump=$("$NOTESGEN" dump "${rescued[0]}")
[ "$(head -n 1 <<<"$dump")" = "rows 4 whole" ] && grep -q "$typed" <<<"$dump" ||
    fail "rescued: $dump"
[ -n "$windows" ] || [ "$(stat -c %a "${rescued[0]}")" = 600 ] ||
    fail "rescue file mode $(stat -c %a "${rescued[0]}")"
[ -n "$windows" ] || grep -q "were saved to ${rescued[0]}\$" "$SANDBOX/stderr" ||
    fail "nothing said of the rescue: $(cat "$SANDBOX/stderr")"

# Nowhere to rescue them either (a file stands where the rescue folder would be): asked to
# end while the warning waits, the program says the notes are lost and exits with 1.
if [ -z "$windows" ]; then
    rm -rf "$rescue_dir" && touch "$rescue_dir"
    run
    pid=$!
    main=$(wait_window Quillora 60)
    add_new_note "$main" "Groceries" "milk and eggs" "bread"
    close_window Quillora
    wait_window "Notes Not Saved" 15 >/dev/null
    kill -s TERM $pid
    wait_exit $pid 60
    [ "$EXIT_CODE" = 1 ] || fail "nothing kept: exit code $EXIT_CODE: $(cat "$SANDBOX/stderr")"
    grep -q 'are lost$' "$SANDBOX/stderr" || fail "nothing said of the lost notes: $(cat "$SANDBOX/stderr")"
    cmp -s notes.dat ../original.dat || fail "notes.dat was changed"
    [ -f "$rescue_dir" ] || fail "the rescue folder was made after all"
fi
echo "PASS ($cause): the warning came $((shown - asked)) ms after the close request; the" \
    "typed note was rescued to ${rescued[0]##*/}, notes.dat kept, exit code 0" \
    "${windows:-(with no rescue possible, SIGTERM ended it with 1)}"
