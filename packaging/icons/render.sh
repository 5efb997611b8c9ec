#!/usr/bin/env bash
# render.sh: redraws the PNG icons from the SVG after it changed. The PNGs
# are kept in the tree so that building needs no SVG renderer; this needs
# rsvg-convert (apt-get install librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
id=org.quillstep.Quillstep
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" "$id.svg" -o "hicolor/${size}x${size}/apps/$id.png"
done
