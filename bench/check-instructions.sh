#!/usr/bin/env bash
# Keeps vesk at the floor in CI: for each line of bench/instruction-budgets, counts the
# instructions of one run of vesk and of the reference program with callgrind (the same count
# every time, unlike wall time) and fails when vesk's exceed the reference's times the budget.
# Uses the build that is there. Usage: bench/check-instructions.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
vesk=$build/src/vesk
[ -x "$vesk" ] || { echo "check-instructions: $vesk is missing; run 'make'" >&2; exit 1; }
scripts/install-deps.sh instructions
command -v valgrind >/dev/null || { echo "check-instructions: needs valgrind (Linux)" >&2; exit 1; }
out=$build/bench
mkdir -p "$out"
# shellcheck source=bench/scenarios.sh
source bench/scenarios.sh

count() {  # count SCENARIO PROGRAM: the instructions of one run of that program
  local counted
  words_of "$1" "$2"
  if counted=$(instructions "${words[@]}") && [ -n "$counted" ]; then
    echo "$counted"
  else
    echo "check-instructions: $2 failed under callgrind in '$1'" >&2
    return 1
  fi
}

over=0
while IFS='|' read -r scenario reference budget; do
  ours=$(count "$scenario" vesk)
  theirs=$(count "$scenario" "$reference")
  awk -v s="$scenario" -v r="$reference" -v a="$ours" -v b="$theirs" -v l="$budget" 'BEGIN {
    printf "check-instructions: %s: vesk %d instructions, %s %d: %.2f ×, budget %s ×%s\n", s, a,
      r, b, a / b, l, (a / b <= l ? "" : ": over budget")
    exit a / b > l }' || over=$((over + 1))
done < <(budgets)
[ "$over" -eq 0 ] || { echo "check-instructions: $over over budget" >&2; exit 1; }
