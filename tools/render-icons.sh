#!/bin/sh
# Renders packaging/icons/gps-analyzer.svg to the PNGs committed beside it, so that the build
# needs no SVG renderer. Run it after each change of the SVG (needs librsvg2-bin).
set -eu
icons="$(dirname "$0")/../packaging/icons"
for size in 16 32 48 256; do
    rsvg-convert --width "$size" --height "$size" "$icons/gps-analyzer.svg" --output "$icons/gps-analyzer-$size.png"
done
