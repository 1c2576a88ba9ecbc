#!/usr/bin/env bash
# The man page ($1) renders without a single warning from the formatters that will show it: groff
# with every warning on (man-db on Linux) and mandoc's linter (man on macOS), whichever are here.
# Exits 77, which CTest reports as skipped, when neither is.
set -uo pipefail
page=$1
checked=0 failed=0

if command -v groff >/dev/null; then
  checked=1
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "groff warns:"; echo "$warnings"; failed=1; }
fi
if command -v mandoc >/dev/null; then
  checked=1
  warnings=$(mandoc -Tlint -W warning "$page" 2>&1)
  [ -z "$warnings" ] || { echo "mandoc warns:"; echo "$warnings"; failed=1; }
fi

[ "$checked" -eq 1 ] || { echo "neither groff nor mandoc is installed: skipped"; exit 77; }
[ "$failed" -eq 0 ] && echo "$(basename "$page") renders without warnings"
exit "$failed"
