#!/usr/bin/env bash
# Renders the PNG sizes of the hicolor icons from their SVGs (run after
# changing an SVG; the PNGs are kept in the repository, so a build needs no
# SVG renderer). Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for svg in *.svg; do
  for size in 16 24 32 48 64 128 256; do
    mkdir -p "$size"
    rsvg-convert -w "$size" -h "$size" -o "$size/${svg%.svg}.png" "$svg"
  done
done
