#!/usr/bin/env bash
# The end-to-end suites of a build (CTest's e2e.*) twice more, as on a Mac where vesk is worked
# on: while the app holds port 47037 (tarnel-sim stands in for it there and answers as the app
# would; no test may reach it), and with the 256 open files a Mac's terminal allows.
# Usage: scripts/check-mac-conditions.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sim=$build/sim/tarnel-sim
[ -x "$sim" ] || { echo "check-mac-conditions: $sim is missing; run 'make'" >&2; exit 1; }

work=$(mktemp -d)
app=""
cleanup() {
  if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; fi
  wait
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-mac-conditions: $*" >&2; exit 1; }

e2e() {  # the suites, their output kept for a failure
  ctest --test-dir "$build" --output-on-failure -j "$(getconf _NPROCESSORS_ONLN)" -R '^e2e\.' \
    >"$work/ctest.log" 2>&1 || fail "$1:"$'\n'"$(cat "$work/ctest.log")"
}

"$sim" --port 47037 --port-file "$work/port" --record "$work/reached.jsonl" --quiet \
  2>"$work/sim.log" &
app=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  kill -0 "$app" 2>/dev/null || break
  sleep 0.05
done
[ -s "$work/port" ] || fail "tarnel-sim cannot stand in for the app on 47037: $(cat "$work/sim.log")"
e2e "the end-to-end suites fail while an app answers on port 47037"
[ ! -s "$work/reached.jsonl" ] ||
  fail "the end-to-end suites reached port 47037:"$'\n'"$(cat "$work/reached.jsonl")"
kill "$app"
app=""
echo "check-mac-conditions: the end-to-end suites pass beside an app on port 47037, and leave it alone"

(ulimit -Sn 256 && e2e "the end-to-end suites fail with 256 open files (ulimit -Sn 256)")
echo "check-mac-conditions: the end-to-end suites pass with 256 open files"
