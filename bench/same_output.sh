#!/bin/bash
# Renders the whole-document benchmark's pages (pages 1-10 of each document,
# BMP and PNG, at the dpi given) with the convertdoc given and compares them
# byte for byte with the pages of an earlier run: a speed step must not change
# one byte of output.
#
#   bench/same_output.sh <convertdoc> <folder> [dpi ...]
# The first run for a folder writes the reference pages there; later runs
# compare against them and print each page that differs. With PIXELS=1 a PNG
# page whose bytes differ (another deflate level, say) passes when its
# pixels, decoded by ImageMagick, are the same.
set -u
convertdoc=$1
folder=$2
shift 2
dpis=${*:-72 150}
corpus=$(cd "$(dirname "$0")/../../shared/corpus" 2>/dev/null && pwd || echo /work/shared/corpus)
documents="deb-r-intro deb-valgrind-manual-fop deb-prawn-manual deb-reportlab-userguide made-groff-pic-ms
  gh-ocr-cmyk-photoshop made-gs-tiger gh-ocr-vector-cairo115 made-gs-escher made-gs-transparency"
samePixels() {
  [ "${PIXELS:-0}" = 1 ] && [ "${1%.png}" != "$1" ] && [ -f "$2" ] &&
    cmp -s <(convert "$1" -depth 8 rgb:-) <(convert "$2" -depth 8 rgb:-)
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differ=0
pages=0
for dpi in $dpis; do
  for type in 1 5; do
    for d in $documents; do
      out=$work/$d-$dpi-$type
      mkdir -p "$out"
      "$convertdoc" "$corpus/$d.pdf" "$out" "$dpi" "$type" 1 10 >/dev/null 2>&1
      ref=$folder/$d-$dpi-$type
      if [ ! -d "$ref" ]; then
        mkdir -p "$ref" && cp -r "$out"/. "$ref"/
        continue
      fi
      for f in "$ref"/* "$out"/*; do
        name=$(basename "$f")
        pages=$((pages + 1))
        if ! cmp -s "$ref/$name" "$out/$name" && ! samePixels "$ref/$name" "$out/$name"; then
          echo "differs: $d $dpi dpi type $type $name"
          differ=$((differ + 1))
        fi
      done
    done
  done
done
echo "compared $((pages / 2)) pages, $differ differ"
[ $differ -eq 0 ]
