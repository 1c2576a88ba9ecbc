#!/usr/bin/env bash
# Checks a vesk .deb with lintian (no error, no warning), installs it on this machine with dpkg,
# runs the installed vesk, finds its man page through man, then removes the package so the
# machine is left as it was. Needs root.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: scripts/check-deb.sh PACKAGE.deb (make package builds build/packages/vesk_VERSION_ARCH.deb)" >&2
  exit 2
fi
deb=$1

# lintian leaves a file of its own in TMPDIR at every run; this one goes with the subshell.
(tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT && TMPDIR=$tmp lintian --fail-on error,warning "$deb")
echo "check-deb: lintian finds no error and no warning"

if dpkg-query -W -f='${Status}' vesk 2>/dev/null | grep -q 'install ok installed'; then
  echo "check-deb: vesk is already installed here; leaving it alone" >&2
  exit 1
fi
trap 'dpkg -r vesk >/dev/null' EXIT

# Minimal Debian images tell dpkg to leave /usr/share/man out (path-exclude in
# /etc/dpkg/dpkg.cfg.d/); this brings back vesk's own pages and nothing else.
dpkg --path-include='/usr/share/man/man1/vesk*.1*' -i "$deb" >/dev/null
dpkg-query -W -f='installed ${Package} ${Version}, depends on ${Depends}\n' vesk

/usr/bin/vesk version
/usr/bin/vesk-mcp --version
page=$(man -w vesk)
echo "man -w vesk: $page"
case $page in
  /usr/share/man/man1/vesk.1 | /usr/share/man/man1/vesk.1.gz) ;;
  *) echo "check-deb: man found the page at an unexpected place" >&2; exit 1 ;;
esac
# With nothing listening on the port, health fails with status 1.
status=0
/usr/bin/vesk health --port 1 2>/dev/null || status=$?
[ "$status" -eq 1 ] || { echo "check-deb: vesk health exited $status, not 1" >&2; exit 1; }
echo "check-deb: the installed package works"
