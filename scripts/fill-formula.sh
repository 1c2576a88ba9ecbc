#!/usr/bin/env bash
# Fills the url and sha256 of the Homebrew formula from a release tarball made by `make dist` and
# the SHA-256 written beside it, after checking that the two agree.
# Usage: scripts/fill-formula.sh [-o OUT] dist/vesk-VERSION.tar.gz [URL]
# URL is where the tarball is published; without it, the formula points at the local file.
# The filled formula replaces packaging/homebrew/vesk.rb, or is written to OUT.
set -euo pipefail
formula=$(dirname "$0")/../packaging/homebrew/vesk.rb
out=$formula
if [ "${1:-}" = -o ]; then out=${2:?}; shift 2; fi
tarball=${1:?usage: fill-formula.sh [-o OUT] dist/vesk-VERSION.tar.gz [URL]}
url=${2:-file://$(cd "$(dirname "$tarball")" && pwd)/$(basename "$tarball")}

[ -f "$tarball" ] || { echo "fill-formula: $tarball is missing; run 'make dist'" >&2; exit 1; }
read -r sha256 _ <"$tarball.sha256"
sum=(sha256sum)
command -v sha256sum >/dev/null || sum=(shasum -a 256)
actual=$("${sum[@]}" <"$tarball")
if [ "${actual%% *}" != "$sha256" ]; then
  echo "fill-formula: $tarball does not match $tarball.sha256" >&2
  exit 1
fi

filled=$(awk -v url="$url" -v sha256="$sha256" '
  /^  url "/ { print "  url \"" url "\""; urls++; next }
  /^  sha256 "/ { print "  sha256 \"" sha256 "\""; sums++; next }
  { print }
  END { if (urls != 1 || sums != 1) exit 1 }' "$formula") ||
  { echo "fill-formula: $formula has no single url and sha256 line" >&2; exit 1; }
printf '%s\n' "$filled" >"$out"
echo "fill-formula: $out installs $url"
