#!/usr/bin/env bash
# Renders the program's SVG icon into the PNG sizes of the hicolor theme
# (data/icons/N/fetchora.png). A developer tool: the PNGs are kept in the
# repository, so neither the build nor the install needs a renderer.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2; exit 2; }
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "data/icons/$size"
  rsvg-convert -w "$size" -h "$size" -o "data/icons/$size/fetchora.png" src/gui/resources/icons/fetchora.svg
done
echo "rendered data/icons/{16..256}/fetchora.png"
