#!/usr/bin/env bash
# scripts/install-deps.sh ($1) against a stand-in dpkg and apt on PATH, without root and without
# touching the system: which packages count as present, and what apt is asked for when some are
# not. Each case gives the groups, the packages' dpkg states (any other package is installed),
# the foreign architectures dpkg knows, and the commands that must run, in order ("" for none).
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# A line "NAME|STATE" of $work/states gives NAME's `dpkg-query -f '${Status}'`; "absent" is a
# package dpkg has never heard of.
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/bin/sh
for package; do :; done
state=$(awk -F'|' -v p="$package" '$1 == p { print $2; exit }' "$FAKE_WORK/states")
case $state in
  absent) echo "dpkg-query: no packages found matching $package" >&2; exit 1 ;;
  "") printf 'install ok installed' ;;
  *) printf '%s' "$state" ;;
esac
FAKE
cat >"$work/bin/dpkg" <<'FAKE'
#!/bin/sh
case $1 in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$FAKE_WORK/foreign" ;;
  *) echo "dpkg $*" >>"$FAKE_WORK/ran" ;;
esac
FAKE
# apt-get's options are left out of the record: what matters is the action and the packages.
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
words=""
while [ $# -gt 0 ]; do
  case $1 in
    -o) shift ;;
    -*) ;;
    *) words="$words $1" ;;
  esac
  shift
done
echo "apt-get$words" >>"$FAKE_WORK/ran"
FAKE
printf '#!/bin/sh\necho Linux\n' >"$work/bin/uname"
printf '#!/bin/sh\necho 1000\n' >"$work/bin/id"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
printf '#!/bin/sh\n' >"$work/bin/node"
printf '#!/bin/sh\n' >"$work/bin/npm"
chmod +x "$work/bin"/*

failures=0 cases=0
while IFS='|' read -r groups states foreign expected; do
  cases=$((cases + 1))
  : >"$work/ran"
  printf '%s\n' "$foreign" >"$work/foreign"
  printf '%s\n' "$states" | tr ';' '\n' | tr '=' '|' >"$work/states"
  # shellcheck disable=SC2086 # the groups are words
  if ! output=$(FAKE_WORK=$work PATH="$work/bin:$PATH" "$script" $groups 2>&1); then
    echo "case $cases: install-deps.sh failed: $output"
    failures=$((failures + 1))
    continue
  fi
  ran=$(tr '\n' ';' <"$work/ran")
  if [ "$ran" != "$expected" ]; then
    echo "case $cases ($groups; $states): ran '$ran', not '$expected'"
    failures=$((failures + 1))
  elif [ -z "$expected" ] && [ -n "$output" ]; then
    echo "case $cases: said '$output' with nothing missing"
    failures=$((failures + 1))
  fi
done <<'CASES'
|||
|cmake=install ok triggers-pending;zsh=install ok triggers-awaited;fish=hold ok installed||
|cmake=install ok half-configured||apt-get update;apt-get install cmake;
|zsh=absent;mandoc=install ok unpacked;fish=deinstall ok config-files||apt-get update;apt-get install mandoc zsh fish;
check|jq=install ok not-installed||apt-get update;apt-get install jq;
arm64|libutf8proc-dev:arm64=absent;qemu-user=install ok triggers-pending||dpkg --add-architecture arm64;apt-get update;apt-get install libutf8proc-dev:arm64;
arm64|libgtest-dev:arm64=absent|arm64|apt-get update;apt-get install libgtest-dev:arm64;
CASES
echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
