#!/usr/bin/env bash
# Runs README's "In CI" and rehearsal recipes, taken from README as they stand, against
# tarnel-sim: the CI recipe must end with the right choice whatever becomes of its question, and
# the rehearsal must reach its own sim while another server holds port 47037.
# Usage: scripts/check-recipes.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh check
build=$(cd "${1:-build}" && pwd)
for bin in "$build/src/vesk" "$build/sim/tarnel-sim"; do
  [ -x "$bin" ] || { echo "check-recipes: $bin is missing; run 'make'" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in ${pids[@]+"${pids[@]}"}; do kill "$pid" 2>/dev/null || true; done
  wait
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-recipes: $*" >&2; exit 1; }

# The sh block of README after the line "<!-- checked by scripts/check-recipes.sh: NAME…".
recipe() {
  awk -v mark="<!-- checked by scripts/check-recipes.sh: $1" '
    index($0, mark) == 1 { found = 1; next }
    found && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }' README.md
}

# Starts tarnel-sim in the background with the options given and sets sim to its pid; fails
# unless the sim comes to listen, which it says by writing its port file ($1).
start_sim() {
  local port_file=$1
  shift
  rm -f "$port_file"
  "$build/sim/tarnel-sim" --port-file "$port_file" "$@" 2>>"$work/sim.log" &
  sim=$!
  pids+=("$sim")
  for _ in $(seq 100); do
    [ -s "$port_file" ] && return
    kill -0 "$sim" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# In CI: each outcome of the question, as the sim's script for it ("" for no app at all), and
# the choice the recipe must end with. vesk is reached through a stand-in that adds the port.
ci=$(recipe ci)
[ -n "$ci" ] || fail "README has no recipe marked ci"
mkdir "$work/bin"
cat >"$work/bin/vesk" <<VESK
#!/bin/sh
exec "$build/src/vesk" "\$@" --port "\$TARNEL_PORT"
VESK
chmod +x "$work/bin/vesk"
while IFS='|' read -r chat expected; do
  port=1 # nothing listens there
  if [ -n "$chat" ]; then
    start_sim "$work/ci.port" --port 0 --quiet --chat "$chat" || fail "tarnel-sim did not start"
    port=$(cat "$work/ci.port")
  fi
  choice=$(cd "$work" && TARNEL_PORT=$port BRANCH=main PATH="$work/bin:$PATH" \
    bash -euo pipefail -c "$ci"$'\nprintf %s "$choice" >&3' 3>&1 >/dev/null 2>&1) ||
    fail "the CI recipe failed when the sim's answer was '${chat:-no app}'"
  [ "$choice" = "$expected" ] ||
    fail "the CI recipe chose '$choice', not '$expected', when the sim's answer was '${chat:-no app}'"
  [ -z "$chat" ] || kill "$sim"
done <<'CASES'
pick:1|Deploy
dismiss|Skip
timeout|Skip
|Skip
CASES
echo "check-recipes: the CI recipe ends with the right choice in 4 cases"

# The rehearsal, with another server on 47037 that must hear nothing, and a script under test
# that asks twice and says it is done. Where another program holds 47037 already (the app, on a
# developer's Mac), the rehearsal still runs; only the check that it left 47037 alone cannot.
rehearsal=$(recipe rehearsal)
[ -n "$rehearsal" ] || fail "README has no recipe marked rehearsal"
squatter=yes
if ! start_sim "$work/squatter.port" --port 47037 --quiet --record "$work/squatter.jsonl"; then
  grep -q 'cannot listen on 127.0.0.1:47037' "$work/sim.log" ||
    fail "tarnel-sim did not start on port 47037:"$'\n'"$(cat "$work/sim.log")"
  squatter=""
  echo "check-recipes: port 47037 is held by another program: whether the rehearsal leaves it" \
    "alone is not checked"
fi
cat >"$work/release.sh" <<'SCRIPT'
#!/bin/sh
set -e
vesk ask "Release?" --answers "Yes,No" --port "${TARNEL_PORT:-47037}"
vesk ask "Tag it?" --port "${TARNEL_PORT:-47037}"
vesk notify "Release done" --port "${TARNEL_PORT:-47037}"
SCRIPT
chmod +x "$work/release.sh"
output=$(cd "$work" && PATH="$build/src:$build/sim:$PATH" bash -c "$rehearsal" 2>"$work/errors") ||
  fail "the rehearsal recipe failed:"$'\n'"$output"$'\n'"$(cat "$work/errors")"
[ "$(tail -n 2 <<<"$output")" = $'2\ntrue' ] ||
  fail "the rehearsal did not count two questions and the last card:"$'\n'"$output"
if [ -n "$squatter" ]; then
  [ ! -s "$work/squatter.jsonl" ] || fail "the rehearsal reached the server on port 47037"
  echo "check-recipes: the rehearsal reaches its own sim while another server holds port 47037"
else
  echo "check-recipes: the rehearsal reaches its own sim"
fi
