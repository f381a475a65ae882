#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Under Wayland, through Qt's own Wayland plugin, in weston's headless compositor: the
# program starts, and a request to end saves and exits with 0.
. "$(dirname "$0")/lib.sh" "$@"

weston --backend=headless-backend.so --socket=quillora-test --width=1024 --height=768 \
    --idle-time=0 >"$SANDBOX/weston.log" 2>&1 &
WM_PID=$!
wait_for 20 test -S "$XDG_RUNTIME_DIR/quillora-test" || fail "weston did not start"

WAYLAND_DISPLAY=quillora-test QT_QPA_PLATFORM=wayland "$QUILLORA" 2>"$SANDBOX/program.log" &
pid=$!
wait_handler $pid
sleep 1
kill -0 $pid 2>/dev/null || fail "the program ended by itself: $(cat "$SANDBOX/program.log")"
kill -TERM $pid
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE: $(cat "$SANDBOX/program.log")"
[ "$(od -An -tx1 notes.dat | tr -d ' \n')" = 00000000 ] || fail "notes.dat was not saved"
echo "PASS: ran under Wayland, saved on SIGTERM, exit code 0"
