#!/bin/sh
# Renders the PNG icons from their SVG sources. Run by hand after changing a drawing;
# the build uses the committed PNGs. Needs rsvg-convert (librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for name in new_note edit_note delete_note delete_all about; do
    rsvg-convert -w 24 -h 24 -o "$name.png" "$name.svg"
done
rsvg-convert -w 128 -h 128 -o quillora.png quillora.svg
