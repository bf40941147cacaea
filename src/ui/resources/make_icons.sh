#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the preview window's toolbar icons with ImageMagick. Run from this
# folder; the PNGs are committed, so the build does not need ImageMagick. The
# program icon is drawn as SVG under data/icons/.
set -e
IM="convert -define png:exclude-chunks=date,time"

# Toolbar of the preview window, 24 x 24.
$IM -size 24x24 xc:none -fill '#2e8b3a' -stroke '#1b5223' -strokewidth 1 \
  -draw 'polygon 2,12 11,3 11,8 21,8 21,16 11,16 11,21' back.png
$IM -size 24x24 xc:none -fill '#2e8b3a' -stroke '#1b5223' -strokewidth 1 \
  -draw 'polygon 22,12 13,3 13,8 3,8 3,16 13,16 13,21' forward.png
$IM -size 24x24 xc:none -fill '#d03030' -stroke '#801818' -strokewidth 1 \
  -draw 'polygon 8,2 16,2 22,8 22,16 16,22 8,22 2,16 2,8' \
  -stroke white -strokewidth 3 -draw 'line 8,8 16,16' -draw 'line 16,8 8,16' stop.png
$IM -size 24x24 xc:none -fill none -stroke '#2060c0' -strokewidth 3 -draw 'arc 4,4 20,20 -60,240' \
  -fill '#2060c0' -stroke '#2060c0' -strokewidth 1 -draw 'polygon 14,1 22,6 14,11' refresh.png
$IM -size 24x24 xc:none -fill '#c04020' -stroke '#602010' -strokewidth 1 -draw 'polygon 12,2 23,12 1,12' \
  -fill '#f0e0b0' -draw 'rectangle 4,12 20,22' -fill '#8b5a2b' -draw 'rectangle 10,15 14,22' home.png
$IM -size 24x24 xc:none -fill '#d8ecff' -stroke '#404040' -strokewidth 2 -draw 'circle 10,10 10,3' \
  -strokewidth 4 -draw 'line 15,15 21,21' search.png
