#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the program icon's PNG sizes from its SVG into the hicolor layout
# beside this script. The PNGs are committed, so building needs no SVG
# renderer; after changing the SVG run this once (rsvg-convert comes with
# Debian's librsvg2-bin).
set -eu
cd "$(dirname "$0")/hicolor"
svg=scalable/apps/io.github.webloom.webloom.svg
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" "$svg" -o "${size}x${size}/apps/io.github.webloom.webloom.png"
done
