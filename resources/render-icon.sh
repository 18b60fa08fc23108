#!/usr/bin/env bash
# Renders the Dunvelt logo SVGs and packs them into dunvelt.ico.
#
# The .ico is committed, so the launcher build never needs these tools; run
# this only after changing one of the SVGs, then commit the new dunvelt.ico.
#
# Image order in the icon: 256 (stored as PNG to keep the file small), then
# 128, 64, 48, 32, 16 as 32-bpp bitmaps with alpha. 16 and 32 come from
# dunvelt-small.svg, which is drawn on a 16 px grid so it stays sharp.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
big="$here/dunvelt.svg"
small="$here/dunvelt-small.svg"
out="$here/dunvelt.ico"

for tool in rsvg-convert icotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "render-icon.sh: '$tool' not found; install it with: apt-get install librsvg2-bin icoutils" >&2
        exit 1
    fi
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# rsvg-convert always writes 8-bit RGBA PNGs; together with -b 32 this makes
# icotool store every bitmap as 32 bpp, even if a future drawing happened to
# be fully opaque or used few enough colours for a palette.
render() { # svg size
    rsvg-convert --width="$2" --height="$2" --format=png --output="$tmp/$2.png" "$1"
}
for size in 256 128 64 48; do render "$big" "$size"; done
for size in 32 16; do render "$small" "$size"; done

# icotool keeps the images in command-line order. Write to a temp file first
# so a failed run never leaves a half-written icon behind.
icotool --create --bit-depth=32 --output="$tmp/dunvelt.ico" \
    --raw="$tmp/256.png" "$tmp/128.png" "$tmp/64.png" "$tmp/48.png" \
    "$tmp/32.png" "$tmp/16.png"

# Windows picks icon entries by size and depth, so a wrong order or a
# palette image would quietly give blurry taskbar icons; refuse to write one.
expected=""
i=1
for size in 256 128 64 48 32 16; do
    expected+="--icon --index=$i --width=$size --height=$size --bit-depth=32 --palette-size=0"$'\n'
    i=$((i + 1))
done
actual="$(icotool --list "$tmp/dunvelt.ico")"$'\n'
if [[ "$actual" != "$expected" ]]; then
    echo "render-icon.sh: unexpected icon layout:" >&2
    printf '%s' "$actual" >&2
    exit 1
fi

mv "$tmp/dunvelt.ico" "$out"
echo "wrote $out ($(wc -c <"$out") bytes)"
