#!/usr/bin/env bash
# Renders the pictures from their SVG sources (rsvg-convert from librsvg2-bin, convert from
# imagemagick). The PNG and ICO results are committed, so a build does not need either tool.
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert -w 475 -h 406 connections.svg -o connections.png
for size in 16 24 32 48 256; do
    rsvg-convert -w "$size" -h "$size" icon.svg -o "icon-$size.png"
done
convert icon-256.png icon-48.png icon-32.png icon-24.png icon-16.png icon.ico
convert connections.png -type TrueColor BMP3:connections.bmp  # bitmap 129: 24-bit, uncompressed
