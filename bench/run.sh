#!/usr/bin/env bash
# Measures vesk against the least a client can do and against curl, and rewrites BENCHMARKS.md.
# Usage: bench/run.sh [RUNS]   (make bench)
# With VESK_BEFORE naming another build of vesk (an earlier commit's, say), each row vesk runs in
# also runs that one, as "vesk before", in the same turns: a change measured on the same machine
# at the same moment, where separate runs drift apart by more than most changes are worth.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-300}
rounds=10

scripts/install-deps.sh bench
make --no-print-directory build >/dev/null
out=build/bench
mkdir -p "$out"
vesk=build/src/vesk
# shellcheck source=bench/scenarios.sh
source bench/scenarios.sh

# Two more servers answer /chat with an answer of 1 MB and of 50 MB.
question='{"message":"q"}'
# Both of vesk's modes run in the turns of one row: the same floor and curl measure both.
for size in "1 MB" "50 MB"; do
  serve "answer-${size% MB}mb" $((${size% MB} * 1048576))
  scenarios+=(
    "ask $size answer|vesk|$vesk ask q -p $served"
    "ask $size answer|vesk --json|$vesk ask q -p $served --json"
    "ask $size answer|floor|$out/floor $served POST /chat $question"
    "ask $size answer|curl|curl -s -X POST -H Content-Type:application/json -d $question http://127.0.0.1:$served/chat"
  )
done

if [ -n "${VESK_BEFORE:-}" ]; then
  with_before=()
  for line in "${scenarios[@]}"; do
    with_before+=("$line")
    IFS='|' read -r s program command <<<"$line"
    [[ $program == vesk* && $command == "$vesk "* ]] || continue
    with_before+=("$s|vesk before${program#vesk}|$VESK_BEFORE ${command#"$vesk "}")
  done
  scenarios=(${with_before[@]+"${with_before[@]}"})
fi

peak_kb() {  # the peak resident memory of one run, in KB
  if [ "$(uname -s)" = Darwin ]; then
    /usr/bin/time -l "$@" 2>&1 >/dev/null | awk '/maximum resident set size/ { print int($1 / 1024) }'
  else
    /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1 # Linux only
  fi
}

# The figures of each line of $scenarios, at the same index; a scenario's lines are together.
median=() peak=() count=() order=()
for i in "${!scenarios[@]}"; do
  s=${scenarios[i]%%|*}
  [ "$i" -gt 0 ] && [ "$s" = "${scenarios[i - 1]%%|*}" ] || order+=("$s")
done
for scenario in ${order[@]+"${order[@]}"}; do
  lines=() commands=()
  for i in "${!scenarios[@]}"; do
    IFS='|' read -r s _ command <<<"${scenarios[i]}"
    [ "$s" = "$scenario" ] || continue
    lines+=("$i") commands+=("$command")
  done
  n=$runs warmup=20
  # A 50 MB run takes tens of milliseconds and spreads widely: a fifth of the runs, not fewer.
  [[ $scenario == *"50 MB"* ]] && n=$((runs / 5)) warmup=2
  # The programs take turns, a tenth of the runs each time: a machine whose speed drifts while
  # one program runs all its runs would otherwise tilt the comparison by more than it measures.
  : >"$out/times.jsonl"
  for round in $(seq "$rounds"); do
    [ "$round" = 1 ] || warmup=2
    hyperfine -N --style none --warmup "$warmup" --runs $(((n + rounds - 1) / rounds)) \
      --export-json "$out/run.json" ${commands[@]+"${commands[@]}"} >/dev/null
    jq -c '[.results[].times]' "$out/run.json" >>"$out/times.jsonl"
  done
  for j in "${!lines[@]}"; do
    i=${lines[j]}
    IFS='|' read -r _ program _ <<<"${scenarios[i]}"
    median[i]=$(jq -s "[.[][$j][]] | sort | (.[(length - 1) / 2 | floor] + .[length / 2 | floor]) / 2 * 1000" \
      "$out/times.jsonl")
    words_of "$scenario" "$program"
    peak[i]=$(peak_kb "${words[@]}")
    count[i]=n/a
    # Counting 50 MB under callgrind takes a minute and says nothing the 1 MB rows do not.
    if [[ $scenario != *"50 MB"* ]] && command -v valgrind >/dev/null; then
      count[i]=$(instructions "${words[@]}")
    fi
  done
done

of() {  # of FIGURES SCENARIO PROGRAM: that line's figure in the array FIGURES, or nothing
  local i figure
  for i in "${!scenarios[@]}"; do
    if [[ ${scenarios[i]} == "$2|$3|"* ]]; then
      figure="$1[$i]"
      echo "${!figure}"
      return
    fi
  done
}

# vesk-mcp: a health call on a server that is already running, as an agent host makes it.
read -r mcp_ms mcp_kb < <(python3 bench/mcp_health.py build/src/vesk-mcp "$port" "$runs")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

table() {
  echo "| scenario | program | median wall (ms) | vesk ÷ floor | vesk ÷ curl | peak memory (KB) | instructions |"
  echo "|---|---|---:|---:|---:|---:|---:|"
  for i in "${!scenarios[@]}"; do
    IFS='|' read -r s program _ <<<"${scenarios[i]}"
    vs_floor="" vs_curl=""
    if [[ $program == vesk* ]]; then
      reference=floor
      [ "$s" = version ] && reference=hello
      vs_floor=$(ratio "${median[i]}" "$(of median "$s" $reference)")
      curl_ms=$(of median "$s" curl)
      [ -z "$curl_ms" ] || vs_curl=$(ratio "${median[i]}" "$curl_ms")
    fi
    printf '| %s | %s | %.2f | %s | %s | %s | %s |\n' "$s" "$program" "${median[i]}" \
      "$vs_floor" "$vs_curl" "${peak[i]}" "${count[i]}"
  done
}

mcp_table() {
  echo "| scenario | program | median wall (ms) | ÷ vesk health | resident memory when idle (KB) |"
  echo "|---|---|---:|---:|---:|"
  printf '| health as a tools/call on a running server | vesk-mcp | %.2f | %s | %s |\n' \
    "$mcp_ms" "$(ratio "$mcp_ms" "$(of median health vesk)")" "$mcp_kb"
}

verdict() {  # verdict NAME VALUE LIMIT: "met" when VALUE <= LIMIT
  awk -v n="$1" -v v="$2" -v l="$3" 'BEGIN { printf "| %s | %s | %s | %s |\n", n, v, l, (v <= l ? "met" : "MISSED") }'
}

targets() {
  echo "| target | measured | limit | |"
  echo "|---|---:|---:|---|"
  for s in health notify "notify 125 KB image"; do
    verdict "$s wall ÷ floor" "$(ratio "$(of median "$s" vesk)" "$(of median "$s" floor)")" 1.10
  done
  verdict "notify 1 MB card wall ÷ floor" \
    "$(ratio "$(of median "notify 1 MB card" vesk)" "$(of median "notify 1 MB card" floor)")" 1.15
  verdict "health peak memory (KB)" "$(of peak health vesk)" 3072
  verdict "version wall ÷ hello" "$(ratio "$(of median version vesk)" "$(of median version hello)")" 1.15
  # An answer is read once and held once: a 1 MB one near the floor, a 50 MB one no slower than
  # curl, which holds none of it. A large answer's run peaks at 1.1 times its size; a 1 MB one's
  # is mostly the run's own and one 2 MiB page for the answer, so what it adds to health's is
  # held to that page and a quarter megabyte.
  for s in ${order[@]+"${order[@]}"}; do
    [[ $s == ask* ]] || continue
    mb=${s#ask }
    mb=${mb%% MB*}
    for program in vesk "vesk --json"; do
      row="$s${program#vesk}"
      if [ "$mb" = 1 ]; then
        verdict "$row wall ÷ floor" "$(ratio "$(of median "$s" "$program")" "$(of median "$s" floor)")" 1.3
        verdict "$row memory beyond health's (KB)" \
          $(($(of peak "$s" "$program") - $(of peak health vesk))) 2304
      else
        verdict "$row wall ÷ curl" "$(ratio "$(of median "$s" "$program")" "$(of median "$s" curl)")" 1.00
        verdict "$row peak memory ÷ answer" "$(ratio "$(of peak "$s" "$program")" $((mb * 1024)))" 1.10
      fi
    done
  done
  verdict "vesk-mcp health call ÷ vesk health" "$(ratio "$mcp_ms" "$(of median health vesk)")" 0.5
  verdict "vesk-mcp idle memory (KB)" "$mcp_kb" 3072
}

# The budgets CI holds vesk to, beside the counts of this run (none without valgrind).
budget_table() {
  echo "| scenario | vesk | reference | ratio | budget | |"
  echo "|---|---:|---|---:|---:|---|"
  while IFS='|' read -r s reference budget; do
    ours=$(of count "$s" vesk) theirs=$(of count "$s" "$reference")
    if [ "$ours" = n/a ]; then
      printf '| %s | n/a | %s | | %s | |\n' "$s" "$reference" "$budget"
    else
      awk -v s="$s" -v a="$ours" -v r="$reference" -v b="$theirs" -v l="$budget" 'BEGIN {
        printf "| %s | %d | %s %d | %.2f | %s | %s |\n", s, a, r, b, a / b, l, (a / b <= l ? "met" : "MISSED") }'
    fi
  done < <(budgets)
}

machine() {
  if [ "$(uname -s)" = Darwin ]; then
    sysctl -n machdep.cpu.brand_string
  else
    awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo
  fi
}

before_note() {  # a line on the earlier build, when one runs beside vesk
  [ -n "${VESK_BEFORE:-}" ] || return 0
  printf ' *vesk before* is vesk built at commit %s, run in the same turns.' \
    "$(git -C "$(dirname "$VESK_BEFORE")" rev-parse --short HEAD 2>/dev/null || echo "?")"
}

# Written by a function: bash 3.2 misreads a here-document inside $( ) whose text has a quote.
report() {
  cat <<REPORT
# Benchmarks

Regenerated by \`make bench\` (bench/run.sh) on $(date -u +%Y-%m-%d): $(uname -sm), $(machine),
$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo "?") cores, $(c++ --version | head -n 1).
Each command ran $(((runs + rounds - 1) / rounds * rounds)) times after 20 warm-up runs under hyperfine (the 50 MB rows
$(((runs / 5 + rounds - 1) / rounds * rounds)) times after 2), in $rounds turns that alternate the programs of a row, against bench/server.c on loopback. *floor* is bench/floor.c (one socket, one
fixed request, the answer's body streamed out), *hello* a C hello-world; peak memory is the
largest resident set of one run, instructions are counted by callgrind for one run (they do not
drift with machine noise). Medians drift between runs, on a 2-core virtual machine by up to a
fifth; instructions do not. The floor client takes a card's texts as arguments, as vesk does, and sends
them as they are; curl reads large bodies from a file. The 1 MB card's command line is longer
than hyperfine takes as one argument: in that row all three run through bench/exec-args.c, one
exec more each.$(before_note)

$(table)

vesk-mcp, started once and driven by bench/mcp_health.py: each call is timed from writing its
request line to reading the answer line, $runs calls after 20 warm-up calls; the memory is read
once the server is idle after them.

$(mcp_table)

## Targets

$(targets)

## Instruction budgets

Wall time is too noisy for CI, but instructions are not: CI (bench/check-instructions.sh) counts
one run of vesk and of its reference in each scenario below with callgrind, and fails when vesk
executes more than the budget times the reference's instructions. Both it and this page read the
budgets from bench/instruction-budgets.

$(budget_table)

$(bench/crowd.sh)

## Where the time goes

- vesk is linked fully statically on Linux, so no dynamic loader runs: that is why \`vesk version\`
  beats a dynamically linked hello-world, and why \`health\` costs about as many instructions as
  the floor client. Its one exchange runs on the thread that waits for it, so no thread starts
  and nothing wakes across CPUs; what remains is the Asio reactor's set-up and Beast's table of
  header names.
- A card's texts go from the command line to the socket without a copy: \`Args\` views the
  process's arguments, and a long text that needs no escapes (Base64 never does) is one piece of
  the gathering write that sends the header. Each text is checked once, a vector at a time
  (AVX-512 or AVX2 where the processor has it; callgrind, which has no AVX-512, counts the AVX2
  path). What is left per byte is that check and the lengths of the arguments, which the floor
  client measures too.
- An answer of known length goes once, straight from the socket, into the text it is parsed
  from: its room is reserved whole and mapped 256 KB at a time just ahead of the bytes. On Linux
  a megabyte and more comes in 2 MiB pages: on a virtual machine a fresh 4 KiB page costs about
  2 µs, so a 1 MB answer in 4 KiB pages spends 0.5 ms on its memory alone, in 2 MiB pages half
  that, for at most twice its size in memory. It is checked for UTF-8 a vector at a time as it
  arrives, and a string answer is decoded and printed where it lies. What a 50 MB answer costs
  beyond curl, which holds none of it, is the kernel clearing the pages that hold it.
REPORT
}
report >BENCHMARKS.md
cat BENCHMARKS.md
