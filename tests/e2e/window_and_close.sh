#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window appears titled "Quillora", 500 by 350, and a close request from the window
# manager ends the program with exit code 0 after one save, which is on disk when the
# program ends: traced, the new notes.dat is synced, renamed into place, then its folder
# synced.
. "$(dirname "$0")/lib.sh" "$@"
start_x

printf '\0\0\0\0' >notes.dat
# LeakSanitizer cannot work under ptrace: a sanitizer build leaves leaks to the other tests.
strace -f -qq -y -e trace=fsync,rename,renameat,renameat2 -o "$SANDBOX/calls" \
    env ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$QUILLORA" -someoption --another &
pid=$!
id=$(wait_window Quillora)
eval "$(xdotool getwindowgeometry --shell "$id")"
[ "$WIDTH" = 500 ] && [ "$HEIGHT" = 350 ] || fail "window is ${WIDTH}x$HEIGHT"
close_window Quillora
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
[ "$(od -An -tx1 notes.dat | tr -d ' \n')" = 00000000 ] || fail "notes.dat is not the empty list"
grep -q '^pos=' "$XDG_CONFIG_HOME/Tolvane/Quillora.conf" || fail "position not stored"
calls=$(sed -nE -e "s|.*fsync\([0-9]+<$SANDBOX/work>\).*|folder|p" \
    -e "s|.*fsync\([0-9]+<$SANDBOX/work/.*|file|p" \
    -e 's|.*rename.*"notes\.dat"\).*|rename|p' "$SANDBOX/calls" | tr '\n' ' ')
[ "$calls" = "file rename folder " ] || fail "the save's calls: $calls"
echo "PASS: window 500x350, closed with exit code 0"
