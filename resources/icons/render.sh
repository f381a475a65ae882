#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the PNG icons and the Windows icon file from their SVG drawings. Run by hand after
# changing a drawing; the build uses the committed files.
# Needs rsvg-convert (librsvg2-bin), convert (imagemagick) and icotool (icoutils).
set -eu
cd "$(dirname "$0")"
# Stored without deflate compression or row filters: the program decodes them at every
# start, and inflating costs more than reading a few more bytes from the executable.
#   render SIZE NAME [OUTPUT-NAME]
render() {
    rsvg-convert -w "$1" -h "$1" -o "$work/$2.png" "$2.svg"
    convert "$work/$2.png" -strip -define png:compression-level=0 -define png:compression-filter=0 \
        -define png:compression-strategy=0 "PNG32:${3:-$2}.png"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tool bar's icons, and the same at twice the size, which Qt takes by itself on screens
# scaled to 150% and more (the @2x suffix).
for name in new_note edit_note delete_note delete_all about; do
    render 24 "$name"
    render 48 "$name" "$name@2x"
done
render 128 quillora

# Windows: four 32-bit images with alpha and a 128-pixel PNG with an 8-bit palette.
for size in 16 24 32 48; do
    rsvg-convert -w $size -h $size -o "$work/$size.png" quillora.svg
done
convert quillora.png -strip -colors 255 "PNG8:$work/128.png"
icotool -c -o ../../dist/windows/quillora.ico \
    "$work/16.png" "$work/24.png" "$work/32.png" "$work/48.png" -r "$work/128.png"

# Linux: the emblem in the hicolor icon theme, from the same drawing. The 128-pixel image
# and the scalable one are installed from this folder as they are.
hicolor=../../dist/linux/icons/hicolor
for size in 16 24 32 48 64 256; do
    mkdir -p "$hicolor/${size}x$size/apps"
    rsvg-convert -w $size -h $size -o "$work/emblem.png" quillora.svg
    convert "$work/emblem.png" -strip "PNG32:$hicolor/${size}x$size/apps/org.example.Quillora.png"
done
