#!/usr/bin/env bash
# Prints what vesk's bash completion offers for each line read on standard input, space-separated,
# one line each. The completion is found the way an interactive bash finds it: bash-completion 2,
# which needs bash 4.2, looks under $XDG_DATA_DIRS, here $1/share. Without it the file is sourced,
# as bash-completion 1 (the one for macOS's bash 3.2) sources every file of bash_completion.d.
stage=$1
if [ -r /usr/share/bash-completion/bash_completion ] &&
  { [ "${BASH_VERSINFO[0]}" -gt 4 ] || { [ "${BASH_VERSINFO[0]}" -eq 4 ] && [ "${BASH_VERSINFO[1]}" -ge 2 ]; }; }; then
  export XDG_DATA_DIRS=$stage/share
  # shellcheck source=/dev/null
  source /usr/share/bash-completion/bash_completion
  if declare -F _comp_load >/dev/null; then _comp_load vesk; else __load_completion vesk; fi ||
    { echo "bash-completion did not find vesk's completion under $stage/share" >&2; exit 1; }
else
  # shellcheck source=/dev/null
  source "$stage/share/bash-completion/completions/vesk"
fi
function=$(complete -p vesk | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
[ -n "$function" ] || { echo "no completion function registered for vesk" >&2; exit 1; }

while IFS= read -r line; do
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  "$function" vesk "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  echo ${COMPREPLY[@]+"${COMPREPLY[@]}"}
done
