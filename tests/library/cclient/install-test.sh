#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds the C client against
# the installed copy through pkg-config, and runs it on a document.
#   install-test.sh <build folder> <client source> <document.pdf>
set -euo pipefail
build=$1
source=$2
document=$3

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name rendova.pc)
[ -n "$pc" ] || { echo "no rendova.pc installed"; exit 1; }
[ -f "$prefix/include/rendova.h" ] || { echo "no rendova.h installed"; exit 1; }
libdir=$(dirname "$(dirname "$pc")")
# The soname link and the real file.
soname=$(readelf -d "$libdir/libRendova.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ -n "$soname" ] && [ -e "$libdir/$soname" ] || { echo "no soname link ($soname)"; exit 1; }

export PKG_CONFIG_PATH="$(dirname "$pc")"
flags=$(pkg-config --cflags --libs rendova)
cc -std=c99 -Wall -Wextra -Werror -pedantic -x c "$source" $flags -o "$prefix/convert_page"
mkdir -p "$prefix/out"
LD_LIBRARY_PATH="$libdir" "$prefix/convert_page" "$document" "$prefix/out" 1
echo "installed library, header and rendova.pc build and run the C client"
