#!/usr/bin/env zsh
# Prints what vesk's zsh completion offers for each line read on standard input, space-separated,
# one line each. An interactive zsh on a pseudo-terminal, set up with compinit and $1/share's
# site-functions on fpath, is sent each line followed by a real TAB.
emulate -L zsh
zmodload zsh/zpty || exit 77
stage=$1
work=$(mktemp -d) || exit 1
trap 'zpty -d shell 2>/dev/null; rm -rf $work' EXIT

# The shell under test, its errors kept in a file. Its compadd notes what each real insertion would add; calls that only
# compute into an array (-O, -A, -D) are left alone. TAB runs the whole completion system and
# writes the notes to a file the driver waits for.
cat >$work/setup.zsh <<SETUP
exec 2>$work/stderr
PS1='> '
fpath=($stage/share/zsh/site-functions \$fpath)
autoload -Uz compinit && compinit -u -d $work/zcompdump
compadd() {
  if (( \${@[(I)-[OAD]*]} )); then builtin compadd "\$@"; return; fi
  local -a added
  builtin compadd -A added "\$@"
  offered+=(\$added)
  builtin compadd "\$@"
}
offer() {
  offered=()
  _main_complete
  print -r -- "\${(j: :)\${(u)offered}}" >| $work/offered.tmp && mv $work/offered.tmp $work/offered
}
zle -C offer complete-word offer
bindkey '^I' offer
SETUP

zpty shell "HOME=$work zsh -f -i"
zpty -w shell "source $work/setup.zsh"

# Waits (bounded) for the shell to write its answer, draining the terminal meanwhile.
await() {
  local tries=0 junk
  while [[ ! -e $work/offered ]] && (( tries++ < 300 )); do
    zpty -rt shell junk '*' 2>/dev/null
    sleep 0.05
  done
  [[ -e $work/offered ]]
}

while IFS= read -r line; do
  rm -f $work/offered
  zpty -w -n shell "$line"$'\t'
  await || { print -u2 "zsh gave no answer for: $line"; exit 1; }
  print -r -- "$(<$work/offered)"
  zpty -w -n shell $'\C-e\C-u'  # empty the line for the next one
done
# What the shell under test wrote to standard error, for the caller to see.
[[ -s $work/stderr ]] && cat $work/stderr >&2
exit 0
