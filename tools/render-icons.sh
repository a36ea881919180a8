#!/bin/sh
# Renders packaging/icons/gps-analyzer.svg to the PNGs committed beside it, so that the build
# needs no SVG renderer. Run it after each change of the SVG (needs librsvg2-bin).
set -eu
icons="$(dirname "$0")/../packaging/icons"
for size in 16 32 48 256; do
    rsvg-convert --width "$size" --height "$size" "$icons/gps-analyzer.svg" --output "$icons/gps-analyzer-$size.png"
done
# The Windows program's icon holds the same four sizes (needs imagemagick).
convert "$icons/gps-analyzer-16.png" "$icons/gps-analyzer-32.png" "$icons/gps-analyzer-48.png" \
    "$icons/gps-analyzer-256.png" "$icons/gps-analyzer.ico"
