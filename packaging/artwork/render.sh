#!/usr/bin/env bash
# Renders the program's artwork from the SVG sources beside this script.
# The outputs are committed; run this after changing a source and commit both.
# Needs rsvg-convert (librsvg2-bin), ImageMagick's convert and icotool (icoutils).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
resources=$repo/qml/content/resources
windows=$repo/packaging/windows
hicolor=$repo/packaging/linux/icons
screen_background='#d6d6d6'

for tool in rsvg-convert convert icotool; do
    command -v "$tool" >/dev/null || { echo "render.sh: $tool is missing" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# -strip and no date chunks keep a re-render byte-identical when nothing changed.
write_png() {  # svg width height output
    rsvg-convert -w "$2" -h "$3" "$here/$1" -o "$scratch/raw.png"
    convert "$scratch/raw.png" -strip -define png:exclude-chunks=date,time PNG32:"$4"
}

# GIF has one-bit transparency only, so the picture is laid on the screen's own
# grey instead: anti-aliased edges then blend exactly as they would on screen.
write_gif() {  # svg width height output
    rsvg-convert -w "$2" -h "$3" "$here/$1" -o "$scratch/raw.png"
    convert "$scratch/raw.png" -background "$screen_background" -flatten -strip \
        +dither -colors 256 GIF:"$4"
}

# Each screen image also as NAME@2x and NAME@3x beside it, drawn from the source at
# that size: Qt takes them by itself on screens scaled by more than 1.
for scale in 1 2 3; do
    suffix=$([ "$scale" = 1 ] || echo "@${scale}x")
    write_png vqlogo.svg $((290 * scale)) $((53 * scale)) "$resources/vqlogo$suffix.png"
    write_png upload-checkmark.svg $((320 * scale)) $((300 * scale)) "$resources/upload-checkmark$suffix.png"
    write_gif upload-dropfile.svg $((320 * scale)) $((300 * scale)) "$resources/upload-dropfile$suffix.gif"
    write_gif upload-dropfile-entered.svg $((320 * scale)) $((300 * scale)) \
        "$resources/upload-dropfile-entered$suffix.gif"
done

# Icon group: the small drawing below 48 px, where the full one turns to mush.
bitmaps=()
for size in 16 24 32; do
    write_png zudiruv-icon-small.svg "$size" "$size" "$scratch/icon-$size.png"
    bitmaps+=("$scratch/icon-$size.png")
done
for size in 48 64 96 128 192; do
    write_png zudiruv-icon.svg "$size" "$size" "$scratch/icon-$size.png"
    bitmaps+=("$scratch/icon-$size.png")
done
# An icon directory entry holds a size in one byte (0 meaning 256), so icotool
# can write 512 only as an embedded PNG, whose own header carries the size;
# Windows reads PNG entries since Vista. 256 goes the same way to stay small.
for size in 256 512; do
    write_png zudiruv-icon.svg "$size" "$size" "$scratch/icon-$size.png"
done
icotool --create --bit-depth=32 --output="$windows/zudiruv.ico" "${bitmaps[@]}" \
    --raw="$scratch/icon-256.png" --raw="$scratch/icon-512.png"

icotool --list "$windows/zudiruv.ico"

# The Linux icon theme's sizes, with the same split between the two drawings.
mkdir -p "$hicolor"
for size in 16 22 24 32; do
    write_png zudiruv-icon-small.svg "$size" "$size" "$hicolor/${size}x${size}.png"
done
for size in 48 64 128 256 512; do
    write_png zudiruv-icon.svg "$size" "$size" "$hicolor/${size}x${size}.png"
done
