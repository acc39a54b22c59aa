#!/bin/sh
# Builds the Debian package with CPack into a fresh folder and checks it: the
# paths it holds (exactly the install's files, under /usr), root ownership and
# no writable-by-others modes, dependencies found from the binary plus the QML
# modules named by hand, and no lintian error.
# Exits 77 (skipped) when the Debian package tools are not installed.
# Usage: check-deb.sh <cpack> <build folder> <expected file list>
set -eu
cpack=$1
build=$2
expected=$3

for tool in dpkg-deb dpkg-shlibdeps file lintian; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; exit 1; }
set -- "$work"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { echo "FAIL: cpack made no single .deb" >&2; exit 1; }
deb=$1
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" >"$work/listing"
awk '$6 !~ /\/$/ { sub(/^\.\/usr\//, "", $6); print $6 }' "$work/listing" \
    | LC_ALL=C sort >"$work/actual"
LC_ALL=C sort "$expected" >"$work/expected"
if ! diff -u "$work/expected" "$work/actual"; then
    echo "FAIL: the package holds other files than expected (- missing, + extra)" >&2
    exit 1
fi
if awk '$2 != "root/root" || $1 ~ /^.....w/ || $1 ~ /^........w/' "$work/listing" | grep .; then
    echo "FAIL: entries not owned by root or writable by others" >&2
    exit 1
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libc6 libqt6core6 libqt6gui6 libqt6qml6 qt6-qpa-plugins \
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts; do
    case ", $depends," in
    *", $needed "* | *", $needed,"*) ;;
    *) echo "FAIL: Depends lacks $needed" >&2; exit 1 ;;
    esac
done

# One lintian run: it is slow. It exits non-zero on any error.
status=0
lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || status=$?
cat "$work/lintian"
if [ $status -ne 0 ] || grep -q '^E:' "$work/lintian"; then
    echo "FAIL: lintian reports errors" >&2
    exit 1
fi
echo "PASS: package holds the expected files; lintian reports no error"
