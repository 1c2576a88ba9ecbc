#!/usr/bin/env bash
# A short tour of every vesk command against tarnel-sim, the stand-in app, started on a free
# port with a script of answers and stopped at the end. Usage: scripts/demo.sh [BUILD_DIR]
# shellcheck disable=SC2016  # the commands given to run are printed as typed, then evaluated
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
vesk_bin=$build/src/vesk
sim_bin=$build/sim/tarnel-sim
for bin in "$vesk_bin" "$sim_bin"; do
  [ -x "$bin" ] || { echo "demo: $bin is missing; run 'make demo'" >&2; exit 1; }
done

bold="" dim="" reset=""
if [ -t 1 ]; then bold=$'\e[1m' dim=$'\e[2m' reset=$'\e[0m'; fi

work=$(mktemp -d)
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap stop_sim EXIT

# The questions get scripted answers: the first proposed answer, a composed message, a game result.
"$sim_bin" --port 0 --port-file "$work/port" --record "$work/record.jsonl" --quiet \
  --chat pick:1 --listen "message:ship it after lunch" --game "result:agent won in 7 guesses" \
  2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
if [ ! -s "$work/port" ]; then
  echo "demo: tarnel-sim did not start:" >&2; cat "$work/sim.log" >&2; exit 1
fi
port=$(cat "$work/port")

vesk() { "$vesk_bin" "$@" --port "$port"; }
# Prints a command as a person would type it, then runs it.
run() {
  printf '\n%s$ %s%s\n' "$bold" "$1" "$reset"
  eval "$1"
}

echo "${bold}tarnel-sim${reset} is standing in for the Tarnel app on port $port."
echo "${dim}Every vesk below is run with --port $port; the sim answers questions from its script.${reset}"

run 'vesk health'
run 'vesk notify "Build done" --name CI --color "#00FF00" --title main --chara Vesk --face happy'
run 'vesk say "remind me to review the PR at 5pm"'
run 'answer=$(vesk ask "Deploy to production?" --answers "Yes,No,Rollback" --chara Soleth)'
run 'echo "the user answered: $answer"'
run 'vesk listen'
run 'vesk game hangman --mode agent_guesses --word apple'
run 'vesk characters'
run 'vesk collapse'
run 'vesk clear'

printf '\n%sWhat tarnel-sim recorded (--record), one JSON line per request:%s\n' "$bold" "$reset"
sed -E 's/^\{"time":"[^"]*",/{/' "$work/record.jsonl"

kill -TERM "$sim_pid"
status=0
wait "$sim_pid" || status=$?
sim_pid=""
if [ "$status" -ne 0 ]; then
  echo "demo: tarnel-sim exited with status $status:" >&2; cat "$work/sim.log" >&2; exit 1
fi
printf '\n%s\n' "${dim}tarnel-sim stopped. The programs are $vesk_bin and $sim_bin; answer the questions yourself: $sim_bin --interactive${reset}"
