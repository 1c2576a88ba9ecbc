#!/usr/bin/env bash
# Installs the build ($1) into a fresh prefix ($2) as a user's `cmake --install` would, and checks
# that exactly the expected files land there ($3...: paths under the prefix) and that man finds
# the page. The prefix stays for the completion tests.
set -euo pipefail
build=$1 stage=$2
shift 2

rm -rf "$stage"
# As one component, so the manifest of the user's own install stays: `make uninstall` reads it.
cmake --install "$build" --component Unspecified --prefix "$stage" >/dev/null
expected=$(printf '%s\n' "$@" | sort)
installed=$(cd "$stage" && find . -type f | sed 's|^\./||' | sort)
if [ "$installed" != "$expected" ]; then
  echo "installed files differ from the expected ones:"
  diff <(echo "$expected") <(echo "$installed") || true
  exit 1
fi

"$stage/bin/vesk" version
if command -v man >/dev/null; then
  page=$(MANPATH="$stage/share/man" man -w vesk)
  [ "$page" = "$stage/share/man/man1/vesk.1" ] || { echo "man -w vesk gives '$page'"; exit 1; }
fi
echo "installed: ${installed//$'\n'/ }"
