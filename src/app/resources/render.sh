#!/usr/bin/env bash
# Renders the pictures from their SVG sources (rsvg-convert from librsvg2-bin, convert from
# imagemagick). The PNG and ICO results are committed, so a build does not need either tool.
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert -w 475 -h 406 connections.svg -o connections.png
for size in 16 24 32 48 256; do
    rsvg-convert -w "$size" -h "$size" icon.svg -o "icon-$size.png"
done
# Icon 128: 48, 32, 24 and 16 pixels in 16 and in 256 colours for palette displays, then 256,
# 48, 32, 24 and 16 pixels in 32-bit colour. A palette entry has only an AND mask, so alpha is
# cut at half. ImageMagick writes a palette image of at most 16 colours as a 4-bit entry and one
# of more as an 8-bit entry (every size has more than 16 and fewer than 256, kept exact), and
# the 256-pixel one as PNG.
palette=()
for size in 48 32 24 16; do
    palette+=("(" "icon-$size.png" -channel A -threshold 50% +channel -dither None -colors 16
        -type PaletteMatte ")")
done
for size in 48 32 24 16; do
    palette+=("(" "icon-$size.png" -channel A -threshold 50% +channel -dither None
        -type PaletteMatte ")")
done
convert -respect-parentheses "${palette[@]}" \
    icon-256.png icon-48.png icon-32.png icon-24.png icon-16.png icon.ico
convert connections.png -type TrueColor BMP3:connections.bmp  # bitmap 129: 24-bit, uncompressed
