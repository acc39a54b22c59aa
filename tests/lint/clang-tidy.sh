#!/bin/sh
# clang-tidy over the project's own C++ (src, the interface module's qml/*.cpp
# and tools) as one build compiles it, with the checks of the root .clang-tidy.
# Any warning fails the run. Generated files (moc, QML type registration and
# caches) live in the build tree and are left out.
#
# Usage: clang-tidy.sh SOURCE_DIR BUILD_DIR [JOBS]
# Exits 77 (skipped) when clang-tidy is not installed.
set -u
src=${1:?source folder}
build=${2:?build folder}
jobs=${3:-2}

tidy=$(command -v clang-tidy-14 || command -v clang-tidy) || {
    echo "clang-tidy is not installed (Debian package clang-tidy)"
    exit 77
}
db=$build/compile_commands.json
if [ ! -r "$db" ]; then
    echo "$db is missing: configure with CMAKE_EXPORT_COMPILE_COMMANDS=ON"
    exit 1
fi

# The folder as a literal inside an extended regular expression.
src_re=$(printf '%s' "$src" | sed 's/[].[^$*+?(){}|\\]/\\&/g')
files=$(sed -n 's/^ *"file": *"\([^"]*\)".*$/\1/p' "$db" |
        grep -E "^$src_re/(src|qml|tools)/.*\.cpp$" | sort -u)
if [ -z "$files" ]; then
    echo "no sources of $src in $db"
    exit 1
fi
echo "$(printf '%s\n' "$files" | wc -l) files, $jobs at a time"

# One file per clang-tidy; xargs fails (123) when any of them does.
printf '%s\n' "$files" |
    xargs -P "$jobs" -n 1 "$tidy" -p "$build" --quiet --warnings-as-errors='*' \
        --header-filter="^$src_re/(src|qml|tools)/"
status=$?
[ "$status" -eq 0 ] && echo "clang-tidy: no warnings"
exit "$status"
