#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds the C client against
# the installed copy in a folder of its own, and converts a page of Japanese
# text in a font the document does not embed (Ryumin-Light, 90ms-RKSJ-H):
# the installed library must find the installed configuration, and with it
# the collection's CMaps and the CJK face, or the page stays blank.
#   install-cjk-test.sh <build folder> <client source>
set -euo pipefail
build=$1
source=$2

face=/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf
if [ ! -f "$face" ] || [ ! -f /var/lib/ghostscript/CMap/90ms-RKSJ-H ]; then
  echo "the CJK face or the CMaps are not installed (scripts/setup-deps); skipped"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name rendova.pc)
libdir=$(dirname "$(dirname "$pc")")
[ -n "$(find "$prefix" -name rendova.conf)" ] || { echo "no rendova.conf installed"; exit 1; }

# "日本語" in Shift-JIS, then " 2024" in single bytes (half-width CIDs).
python3 - "$work/japanese.pdf" <<'PY'
import sys
content = b"BT /F1 36 Tf 20 40 Td <93fa967b8cea> Tj ( 2024) Tj ET"
objects = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] /Contents 4 0 R"
    b" /Resources << /Font << /F1 5 0 R >> >> >>",
    b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
    b"<< /Type /Font /Subtype /Type0 /BaseFont /Ryumin-Light /Encoding /90ms-RKSJ-H"
    b" /DescendantFonts [6 0 R] >>",
    b"<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Ryumin-Light /CIDSystemInfo"
    b" << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >> /FontDescriptor 7 0 R >>",
    b"<< /Type /FontDescriptor /FontName /Ryumin-Light /Flags 6 /FontBBox [0 -141 1000 859]"
    b" /ItalicAngle 0 /Ascent 859 /Descent -141 /CapHeight 700 /StemV 80 >>",
]
out = b"%PDF-1.4\n"
offsets = []
for number, body in enumerate(objects, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(sys.argv[1], "wb").write(out)
PY

# The program lives apart from the library, and the home folder holds no
# configuration: only the installed one can be read.
mkdir -p "$work/client" "$work/home" "$work/out"
export PKG_CONFIG_PATH="$(dirname "$pc")"
cc -std=c99 -Wall -Wextra -Werror -pedantic -x c "$source" $(pkg-config --cflags --libs rendova) \
  -o "$work/client/convert_page"
(cd "$work/client" && HOME="$work/home" LD_LIBRARY_PATH="$libdir" ./convert_page "$work/japanese.pdf" "$work/out" 1)

# Dark pixels where the kanji stand (x 20-128 points) and where the digits
# do (x 164-300): both parts of the line are drawn.
page="$work/out/c-client.png"
ink() {
  convert "$page" -crop "$1" +repage -colorspace Gray -threshold 50% -negate -format "%[fx:mean]" info:
}
read -r width _ < <(identify -format "%w %h\n" "$page")
scale=$(python3 -c "print($width / 300)")
box() { python3 -c "s=$scale; print('%dx%d+%d+%d' % (($2-$1)*s, 100*s, $1*s, 0))"; }
kanji=$(ink "$(box 20 128)")
digits=$(ink "$(box 164 300)")
python3 -c "import sys; sys.exit(0 if $kanji > 0.01 and $digits > 0.005 else 1)" ||
  { echo "no text ink: kanji $kanji, digits $digits"; exit 1; }
echo "the installed library draws Japanese text from a program elsewhere (ink $kanji, $digits)"
