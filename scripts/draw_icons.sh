#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the program's raster icons from data/sonabel_icon.mvg (the drawing of data/sonabel.svg)
# with ImageMagick and writes them into data/icons/, where they are kept in the repository (the
# MSVC build compiles the .ico into sonabel.exe without ImageMagick):
#   hicolor/<N>x<N>/apps/sonabel.png   N = 48, 64, 128, 256: the sizes desktops look up
#   sonabel.ico                        256, 48, 32 and 16 px: Explorer, Start menu, title bars
# Run it after changing the drawing. Metadata (dates) is left out, so the same drawing gives the
# same files.
set -euo pipefail
cd "$(dirname "$0")/.."
out=data/icons
# Debian's ImageMagick policy forbids -draw @file: the drawing goes on the command line, as one
# line without the comments.
drawing=$(grep -v '^#' data/sonabel_icon.mvg | tr '\n' ' ')
plain=(-strip -define png:exclude-chunks=date,time -depth 8)
big=$(mktemp --suffix=.png); trap 'rm -f "$big"' EXIT
convert -size 256x256 xc:none -draw "$drawing" "${plain[@]}" "PNG32:$big"
for n in 48 64 128 256; do
  mkdir -p "$out/hicolor/${n}x$n/apps"
  convert "$big" -resize "${n}x$n" "${plain[@]}" "PNG32:$out/hicolor/${n}x$n/apps/sonabel.png"
done
convert "$big" -define icon:auto-resize=256,48,32,16 "$out/sonabel.ico"
find "$out" -type f | sort
