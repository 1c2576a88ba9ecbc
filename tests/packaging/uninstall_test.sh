#!/usr/bin/env bash
# The way back from `cmake --install` of the build ($1): packaging/uninstall.cmake ($3) removes
# every file the install put in place and every folder it created, and leaves all else as it was.
# Each case lays out what is there before, under a work folder ($2) (a name ending in / is a
# folder), installs once or more into a prefix there (or into DESTDIR there, with an absolute
# prefix), uninstalls, and compares. The installs are of the one component, which keeps their
# manifest apart from that of a user's own install from this build.
set -euo pipefail
build=$1 work=$2 uninstall=$3
listing() { (cd "$work" && find . -print | LC_ALL=C sort); }

failures=0 cases=0
while IFS='|' read -r before installs destdir prefix; do
  cases=$((cases + 1))
  rm -rf "$work" && mkdir -p "$work"
  for path in $before; do
    case $path in
      */) mkdir -p "$work/$path" ;;
      *) mkdir -p "$work/$(dirname "$path")" && echo kept >"$work/$path" ;;
    esac
  done
  was=$(listing)
  if [ -n "$destdir" ]; then destdir=$work/$destdir root=$destdir$prefix
  else prefix=$work/$prefix root=$prefix
  fi
  for _ in $(seq "$installs"); do
    DESTDIR=$destdir cmake --install "$build" --component Unspecified --prefix "$prefix" >/dev/null
  done
  [ -x "$root/bin/vesk" ] || { echo "case $cases: nothing was installed"; exit 1; }
  DESTDIR=$destdir cmake -DVESK_BUILD="$build" -DVESK_COMPONENT=Unspecified -P "$uninstall" >/dev/null
  is=$(listing)
  if [ "$is" != "$was" ]; then
    echo "case $cases ($before; $installs installs): left otherwise than found:"
    diff <(echo "$was") <(echo "$is") || true
    failures=$((failures + 1))
  fi
done <<'CASES'
|1||new/prefix
p/bin/other p/share/man/ p/share/zsh/site-functions/other p/share/fish/|2||p
|1|stage|/usr/local
CASES
rm -rf "$work"
echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
