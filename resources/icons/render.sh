#!/bin/sh
# Renders the PNG icons and the Windows icon file from their SVG drawings. Run by hand after
# changing a drawing; the build uses the committed files.
# Needs rsvg-convert (librsvg2-bin), convert (imagemagick) and icotool (icoutils).
set -eu
cd "$(dirname "$0")"
for name in new_note edit_note delete_note delete_all about; do
    rsvg-convert -w 24 -h 24 -o "$name.png" "$name.svg"
done
rsvg-convert -w 128 -h 128 -o quillora.png quillora.svg

# Windows: four 32-bit images with alpha and a 128-pixel PNG with an 8-bit palette.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32 48; do
    rsvg-convert -w $size -h $size -o "$work/$size.png" quillora.svg
done
convert quillora.png -colors 255 "PNG8:$work/128.png"
icotool -c -o ../../dist/windows/quillora.ico \
    "$work/16.png" "$work/24.png" "$work/32.png" "$work/48.png" -r "$work/128.png"
