#!/usr/bin/env bash
# Renders the artwork sources res/art/*.svg into the PNGs in res/png/ at the
# sizes the program expects (each SVG's own width and height), renders the
# application icon at 16, 32 and 48 pixels and rebuilds res/cvuninstall.ico.
# A developer tool: the build uses the rendered files that live in res/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
art=$root/res/art
out=$root/res/png

if ! command -v rsvg-convert >/dev/null; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y librsvg2-bin
fi

mkdir -p "$out"
for svg in "$art"/*.svg; do
  name=$(basename "$svg" .svg)
  [ "$name" = icon ] && continue
  # The root element's width and height are the picture's exact size.
  w=$(sed -n 's/^<svg[^>]* width="\([0-9]*\)".*/\1/p' "$svg" | head -1)
  h=$(sed -n 's/^<svg[^>]* height="\([0-9]*\)".*/\1/p' "$svg" | head -1)
  [ -n "$w" ] && [ -n "$h" ] || { echo "no size in $svg" >&2; exit 1; }
  rsvg-convert --width "$w" --height "$h" --format png -o "$out/$name.png" "$svg"
  # The program expects alpha in every picture (PNG colour type 6, RGBA);
  # a fully opaque drawing would be written as RGB.
  ct=$(od -An -tu1 -j25 -N1 "$out/$name.png" | tr -d ' ')
  [ "$ct" = 6 ] || { echo "$name.png has no alpha channel: make a pixel see-through" >&2; exit 1; }
  echo "$name.png ${w}x${h}"
done
for s in 16 32 48; do
  rsvg-convert --width $s --height $s --format png -o "$out/icon-$s.png" "$art/icon.svg"
done
python3 "$root/res/make-ico.py" "$root/res/cvuninstall.ico" \
  "$out/icon-16.png" "$out/icon-32.png" "$out/icon-48.png"
echo "cvuninstall.ico 16 32 48"
