#!/bin/sh
# Installs the build into a fresh prefix and checks that exactly the expected
# files land there, the program is executable, every icon has its size, and
# the installed desktop entry and metainfo validate where their tools are.
# Usage: check-install.sh <cmake> <build folder> <expected file list> <app id>
set -eu
cmake=$1
build=$2
expected=$3
app_id=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 \
    || { cat "$work/install.log" >&2; exit 1; }

(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$work/actual"
LC_ALL=C sort "$expected" >"$work/expected"
if ! diff -u "$work/expected" "$work/actual"; then
    echo "FAIL: the install holds other files than expected (- missing, + extra)" >&2
    exit 1
fi

[ -x "$prefix/bin/kestrix" ] || { echo "FAIL: bin/kestrix is not executable" >&2; exit 1; }

# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'
}
for icon in "$prefix"/share/icons/hicolor/*/apps/"$app_id".png; do
    folder=$(basename "$(dirname "$(dirname "$icon")")")
    size=$(png_size "$icon")
    [ "$size" = "$folder" ] || { echo "FAIL: $icon is $size" >&2; exit 1; }
done

# The entry starts the installed program and names the installed icon.
entry=$prefix/share/applications/$app_id.desktop
exec_name=$(sed -n 's/^Exec=//p' "$entry")
icon_name=$(sed -n 's/^Icon=//p' "$entry")
[ -x "$prefix/bin/$exec_name" ] || { echo "FAIL: Exec=$exec_name is not installed" >&2; exit 1; }
for size in 16 48 256; do
    [ -f "$prefix/share/icons/hicolor/${size}x$size/apps/$icon_name.png" ] \
        || { echo "FAIL: Icon=$icon_name has no ${size} px icon" >&2; exit 1; }
done

if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$entry"
fi
if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml"
fi
echo "PASS: $(wc -l <"$work/actual") files, as expected"
