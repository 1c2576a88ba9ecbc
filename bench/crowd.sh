#!/usr/bin/env bash
# A crowd against tarnel-sim: N `vesk ask` at once (1000 unless told), each proposing its own
# answer, while the sim holds every /chat for HOLD seconds (10: longer than starting them all
# takes, so that all are open together). Every run must exit 0 with its own answer. Prints a
# Markdown section for BENCHMARKS.md: the wall time and the sim's peak memory.
# Usage: bench/crowd.sh [N] [HOLD]
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000}
hold=${2:-10}
vesk=build/src/vesk
sim=build/sim/tarnel-sim
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Milliseconds on a clock every process shares (macOS's date has no %N).
now_ms() { python3 -c 'import time; print(time.monotonic_ns() // 1000000)'; }

peak_kb() {  # the peak resident memory of a process while it runs, from /proc or ps
  if [ -r "/proc/$1/status" ]; then awk '/VmHWM/ { print $2 }' "/proc/$1/status"; else ps -o rss= -p "$1"; fi
}

"$sim" --port 0 --port-file "$work/port" --delay "/chat=$hold" --quiet 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")

start=$(now_ms)
pids=()
for i in $(seq "$n"); do
  "$vesk" ask q --answers "answer $i" --port "$port" >"$work/$i.out" 2>"$work/$i.err" &
  pids+=($!)
done
failed=0
for i in "${!pids[@]}"; do wait "${pids[$i]}" || failed=$((failed + 1)); done
wall_ms=$(($(now_ms) - start))
sim_kb=$(peak_kb "$sim_pid")

wrong=0
for i in $(seq "$n"); do
  [ "$(cat "$work/$i.out")" = "answer $i" ] && [ ! -s "$work/$i.err" ] || wrong=$((wrong + 1))
done
if [ "$failed" -ne 0 ] || [ "$wrong" -ne 0 ]; then
  echo "crowd: $failed of $n runs failed and $wrong answers were wrong or lost:" >&2
  cat "$work"/*.err | sort | uniq -c | sort -rn | head -n 5 >&2
  exit 1
fi

cat <<SECTION
## A crowd against tarnel-sim

$n \`vesk ask\` started at once (bench/crowd.sh), each proposing its own answer, while tarnel-sim
held every question for $hold s, so that all of them were open together: every run exited 0
with its own answer, none lost and none mixed up.

| questions at once | held for | wall time, first start to last exit | tarnel-sim peak memory |
|---:|---:|---:|---:|
| $n | $hold s | $wall_ms ms | $((sim_kb / 1024)) MB |
SECTION
