#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A notes file written by the Linux build (text beyond ASCII and outside the Basic
# Multilingual Plane, line breaks, rows of two strings padded on the first save) comes back
# byte for byte from the Windows build.
. "$(dirname "$0")/../e2e/lib.sh" "$@"
"$NOTESGEN" write notes.dat 300 11
cp notes.dat linux.dat

"$WINE" "$QUILLORA" &
pid=$!
wait_window Quillora 60 >/dev/null
close_window Quillora
wait_exit $pid 60
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
cmp notes.dat linux.dat || fail "notes.dat changed: $("$NOTESGEN" dump notes.dat | head -n 1)"
ls notes.dat.* >/dev/null 2>&1 && fail "stray files: $(ls notes.dat.*)"
echo "PASS: $(stat -c %s notes.dat) bytes from the Linux build came back byte for byte"
