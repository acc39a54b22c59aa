#!/bin/sh
# Runs a validator on a file; exits 77 (skipped) when the validator is not
# installed (tools/install-deps installs it).
# Usage: run-if-installed.sh <program> [arguments...]
command -v "$1" >/dev/null 2>&1 || { echo "$1 is not installed" >&2; exit 77; }
exec "$@"
