#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CTest's emulator for the Windows test programs: runs one under Wine and shows its
# results. Wine does not pass a program's standard output through a pipe, so Qt Test
# writes them to a file. A program that has not ended after QUILLORA_WINE_TIMEOUT seconds
# (a message box waiting for an answer, say) is ended with the whole Wine session's
# processes, so that no failure can hang the run. Needs tests/wine/session.sh around it.
#   run-test.sh PROGRAM.exe [ARG ...]
set -uo pipefail
if [ -z "${QUILLORA_WINE_SESSION:-}" ]; then
    echo "run the Windows tests inside tests/wine/session.sh" >&2
    exit 1
fi
program=$1
shift
results=$(mktemp "$QUILLORA_WINE_SESSION/results.XXXXXX")
# A path from the root of the current drive, Z:, which is the Linux root.
timeout -k 5 "${QUILLORA_WINE_TIMEOUT:-240}" "$WINE" "$program" "$@" -o "Z:$results,txt" </dev/null
status=$?
cat "$results"
rm -f "$results"
if [ $status = 124 ] || [ $status = 137 ]; then
    echo "FAIL: ${program##*/} did not end within ${QUILLORA_WINE_TIMEOUT:-240} s" >&2
    "$WINESERVER" -k 2>/dev/null
fi
exit $status
