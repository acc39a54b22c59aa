#!/bin/sh
# expect-finding.sh PROBE FAULT: passes only when the sanitizers stop the probe
# at its fault with a report, the way they must stop any test.
out=$("$1" "$2" 2>&1)
code=$?
printf '%s\n' "$out"
case "$out" in
*survived*) echo "expect-finding: the fault went on unnoticed"; exit 1 ;;
esac
[ "$code" -ne 0 ] || { echo "expect-finding: exit code 0 after the fault"; exit 1; }
printf '%s\n' "$out" | grep -q -e 'ERROR: AddressSanitizer' -e 'runtime error:' ||
    { echo "expect-finding: no sanitizer report"; exit 1; }
echo "expect-finding: stopped with a report (exit $code)"
