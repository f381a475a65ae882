#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's screenshots from the real program under Xvfb with openbox.
#   scripts/screenshots.sh PROGRAM NOTESGEN [OUTPUT_DIR [PREFIX]]
# Needs Xvfb, openbox, xdotool, wmctrl and ImageMagick's import. A Windows PROGRAM (.exe)
# runs under Wine, inside tests/wine/session.sh, which provides the X server.
out=$(realpath -m "${3:-$(dirname "$0")/../docs/screenshots}")
prefix=${4:-}
mkdir -p "$out"
. "$(dirname "$0")/../tests/e2e/lib.sh" "$1" "$2"
if [[ $QUILLORA == *.exe ]]; then
    run=("$WINE" "$QUILLORA")
else
    start_x
    run=("$QUILLORA")
fi
# A plain grey desk behind the windows.
xsetroot -solid '#5b6b7b' 2>/dev/null || true

shoot() {
    sleep 0.7
    import -window "$1" "$out/$prefix$2.png"
    echo "wrote $out/$prefix$2.png"
}

"$NOTESGEN" sample notes.dat
"${run[@]}" &
pid=$!
main=$(wait_window Quillora 60)
xdotool windowactivate --sync "$main" 2>/dev/null || true
# Show the third note in the viewer: the rows start under the tool bar, the find bar and
# the header.
xdotool mousemove --window "$main" 60 148 click 1
shoot "$main" main-window

# Finding, with the accent left out: the field is at the right end of the find bar.
xdotool mousemove --window "$main" 430 78 click 1
sleep 0.3
xdotool type --delay 60 "belem"
sleep 0.5
shoot "$main" finding
xdotool key Escape

dialog=$(type_new_note "$main" "Call the plumber" "Kitchen tap drips again." "Ask about Tuesday morning.")
shoot "$dialog" new-note

if [ -n "${ALL_SCREENSHOTS:-}" ]; then
    xdotool key shift+Tab Return
    sleep 0.3
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    notes_menu "$main" "Down Down"
    shoot "$(wait_window "Edit Note")" edit-note
    xdotool key Escape
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    notes_menu "$main" "Down Down Down Down"
    sleep 0.5
    shoot root delete-all
    xdotool key Escape
    xdotool mousemove --window "$main" 70 10 click 1
    sleep 0.5
    xdotool key Down Return
    sleep 0.5
    shoot root about
    xdotool key Escape
    shoot root main-after
fi
close_window Quillora
wait_exit $pid
