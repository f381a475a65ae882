#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Notes typed in a folder that cannot be written: closing the window shows a warning, and
# after it is answered the program exits with 0, the notes kept in a rescue file in the
# user's data folder. The read-only file system is a tmpfs in a mount namespace of the
# test's own, so it goes away with the test. Needs root; skipped (77) without.
if [ -z "${QUILLORA_IN_NAMESPACE:-}" ]; then
    if [ "$(id -u)" != 0 ] || ! unshare --mount --propagation private true 2>/dev/null; then
        echo "SKIP: needs root to mount a read-only file system"
        exit 77
    fi
    QUILLORA_IN_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
. "$(dirname "$0")/lib.sh" "$@"
start_x

mkdir readonly
trap 'umount -l "$SANDBOX/work/readonly" 2>/dev/null; cleanup' EXIT
mount -t tmpfs -o size=1m,mode=0755 tmpfs readonly
mount -o remount,ro readonly
cd readonly

"$QUILLORA" &
pid=$!
main=$(wait_window Quillora)
add_new_note "$main" "Groceries" "milk and eggs" "bread"

close_window Quillora
box=$(wait_window "Notes Not Saved")
kill -0 $pid 2>/dev/null || fail "the program ended before the warning was answered"
xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
xdotool key Return
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
[ ! -e notes.dat ] || fail "notes.dat appeared on a read-only file system"

rescued=("$XDG_DATA_HOME"/Tolvane/Quillora/notes-rescued-*.dat)
[ ${#rescued[@]} = 1 ] && [ -f "${rescued[0]}" ] || fail "rescue files: ${rescued[*]}"
dump=$("$NOTESGEN" dump "${rescued[0]}")
[ "$(head -n 1 <<<"$dump")" = "rows 1 whole" ] || fail "rescued: $dump"
grep -q '^Groceries | milk and eggs bread | .* | milk and eggs\\nbread$' <<<"$dump" ||
    fail "rescued: $dump"
[ "$(stat -c %a "${rescued[0]}")" = 600 ] || fail "rescue file mode $(stat -c %a "${rescued[0]}")"
echo "PASS: typed note rescued to ${rescued[0]#"$SANDBOX"/} after the warning, exit code 0"
