#!/usr/bin/env bash
# Checks that vesk's completion for one shell ($1: bash, zsh or fish), loaded from the install in
# $2 the way that shell finds it, offers exactly what completion_cases.txt lists, and prints no
# error while doing so. Exits 77, which CTest reports as skipped, when the shell is not here.
set -euo pipefail
shell=$1
stage=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v "$shell" >/dev/null || { echo "$shell is not installed: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the shell's driver on the typed lines given as arguments, with the vesk found first on
# PATH in folder $1; prints one line of offered words for each.
offers() {
  local bin=$1
  shift
  local -a run
  case $shell in
    bash) run=(bash "$here/complete_bash.sh" "$stage") ;;
    zsh) run=(zsh "$here/complete_zsh.zsh" "$stage") ;;
    fish) run=(env HOME="$work" XDG_CONFIG_HOME="$work" XDG_DATA_DIRS="$stage/share"
                fish "$here/complete_fish.fish") ;;
  esac
  printf '%s\n' "$@" | PATH="$bin:$PATH" "${run[@]}" 2>>"$work/stderr"
}

lines=() expected=() bins=()
while IFS='|' read -r typed offered; do
  bin=$here/stub
  if [[ $typed == installed:* ]]; then typed=${typed#installed:} bin=$stage/bin; fi
  lines+=("$typed") expected+=("$offered") bins+=("$bin")
done < <(grep -v '^#' "$here/completion_cases.txt")

for bin in "$here/stub" "$stage/bin"; do
  picked=()
  for i in "${!lines[@]}"; do [ "${bins[i]}" = "$bin" ] && picked+=("$i"); done
  [ ${#picked[@]} -gt 0 ] || continue
  typed=()
  for i in ${picked[@]+"${picked[@]}"}; do typed+=("${lines[i]}"); done
  actual=()
  while IFS= read -r offered; do actual+=("$offered"); done < <(offers "$bin" ${typed[@]+"${typed[@]}"})
  for n in "${!picked[@]}"; do
    i=${picked[n]}
    printf '%s|%s|%s\n' "${lines[i]}" "${expected[i]}" "${actual[n]:-}"
  done >>"$work/compared"
done
# Each line's offers are compared as sets: the shells order them differently.
failures=$(awk -F'|' -v shell="$shell" '
  function set(words, into,   n, i, list) {
    n = split(words, list, " ")
    for (i = 1; i <= n; i++) into[list[i]] = 1
  }
  function listed(s,   w, out) { out = ""; for (w in s) out = out " " w; return out }
  {
    split("", want); split("", got)
    set($2, want); set($3, got)
    same = 1
    for (w in want) if (!(w in got)) same = 0
    for (w in got) if (!(w in want)) same = 0
    if (!same) {
      printf "%s: \"%s\" offered [%s ], expected [%s ]\n", shell, $1, listed(got), listed(want) > "/dev/stderr"
      failed++
    }
  }
  END { print failed + 0 }' "$work/compared")
if [ -s "$work/stderr" ]; then
  echo "$shell wrote to standard error while completing:"
  cat "$work/stderr"
  failures=$((failures + 1))
fi
echo "$shell: ${#lines[@]} lines, $failures failed"
[ "$failures" -eq 0 ]
