#!/usr/bin/env bash
# `vesk help` ($1 is the binary) and the man page ($2) name the same commands and long options,
# and the page names the same command words and aliases as the binary's table ($3,
# src/cli/entry.cpp), so none of them can gain or lose one without the others.
set -euo pipefail
vesk=$1 page=$2 entry=$3
failures=0

help=$("$vesk" help)
# Roff source to text: "\-" is a hyphen, "\f?" a font change, "\(xx" a special character.
roff_words() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\([a-zA-Z]\{2\}//g' -e 's/"//g'; }
# The lines of section $1 (.SH) of the page, up to the next section.
section() { awk -v name="$1" '/^\.SH/ { on = ($0 ~ "^\\.SH \"?" name "\"?$"); next } on' "$page"; }
# The first line of each .TP entry (its tag), in roff.
tags() { awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }'; }

same() {  # $1: what is compared, $2: where the first list is from, $3 and $4: the two lists
  if [ "$3" != "$4" ]; then
    echo "$1 differ:"
    diff <(echo "$3") <(echo "$4") | sed -n "s/^</  only in $2:/p; s/^>/  only in the man page:/p" || true
    failures=$((failures + 1))
  fi
}

help_commands=$(awk '/^COMMANDS:/ { on = 1; next } /^$/ { on = 0 } on { print $1 }' <<<"$help" | sort)
page_commands=$(section COMMANDS | tags | roff_words | awk '{ print $2 }' | sort)
same "commands" "vesk help" "$help_commands" "$page_commands"

help_options=$(grep -o -- '--[a-z0-9-]*' <<<"$help" | sort -u)
page_options=$(section OPTIONS | tags | roff_words | grep -o -- '--[a-z0-9-]*' | sort -u)
same "long options" "vesk help" "$help_options" "$page_options"

# The command words and aliases: in the binary's table, and in the page's COMMANDS entries
# ("Alias: n." or "Aliases: chars, c."), help and version aside as they are not in the table.
entry_words=$(sed -n 's/^ *{"\([^"]*\)", cmd[A-Za-z]*},.*/\1/p' "$entry" | sort)
page_words=$( {
  echo "$page_commands"
  section COMMANDS | roff_words | sed 's/^\.[A-Z]* *//' | tr '\n' ' ' | sed 's/ ,/,/g; s/ \././g' |
    grep -oE 'Alias(es)?: [^.]*' | sed -E 's/Alias(es)?: //' | tr ',' '\n' | tr -d ' '
} | grep -vxE 'help|version|--help|-h|--version|-v' | sort)
same "command words and aliases" "entry.cpp" "$entry_words" "$page_words"

echo "$failures differences"
[ "$failures" -eq 0 ]
