#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A window moved by the user comes back at the same place on the next start.
. "$(dirname "$0")/lib.sh" "$@"
start_x

"$QUILLORA" &
pid=$!
id=$(wait_window Quillora)
eval "$(xdotool getwindowgeometry --shell "$id")"
initial="$X,$Y"
xdotool windowmove "$id" 310 170
moved_away() {
    ! xdotool getwindowgeometry --shell "$id" | grep -qx "X=${initial%,*}"
}
wait_for 5 moved_away || true
eval "$(xdotool getwindowgeometry --shell "$id")"
moved="$X,$Y"
[ "$moved" != "$initial" ] || fail "the window manager did not move the window"
close_window Quillora
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "first run ended with $EXIT_CODE"

"$QUILLORA" &
pid=$!
id=$(wait_window Quillora)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$id")"
close_window Quillora
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "second run ended with $EXIT_CODE"
[ "$X,$Y" = "$moved" ] || fail "window came back at $X,$Y instead of $moved"
echo "PASS: window came back at $moved"
