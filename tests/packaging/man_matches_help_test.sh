#!/usr/bin/env bash
# A program's help (the command after $2) and its man page ($1) name the same long options, so
# neither can gain or lose one without the other. For vesk, whose binary's table of command words
# is $2 (src/app/entry.cpp; "-" for the others), they also name the same commands, and the page
# the same command words and aliases as the table.
set -euo pipefail
page=$1 entry=$2
shift 2
failures=0

help=$("$@")
help_from=$(basename "$1")${2:+ $2}
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

help_options=$(grep -o -- '--[a-z0-9-]*' <<<"$help" | sort -u)
page_options=$(section OPTIONS | tags | roff_words | grep -o -- '--[a-z0-9-]*' | sort -u)
same "long options" "$help_from" "$help_options" "$page_options"
if [ "$entry" != - ]; then
  help_commands=$(awk '/^COMMANDS:/ { on = 1; next } /^$/ { on = 0 } on { print $1 }' <<<"$help" | sort)
  page_commands=$(section COMMANDS | tags | roff_words | awk '{ print $2 }' | sort)
  same "commands" "$help_from" "$help_commands" "$page_commands"

  # The command words and aliases: in the binary's table, and in the page's COMMANDS entries
  # ("Alias: n." or "Aliases: chars, c."), help and version aside as they are not in the table.
  entry_words=$(sed -n 's/^ *{"\([^"]*\)", cmd[A-Za-z]*},.*/\1/p' "$entry" | sort)
  page_words=$( {
    echo "$page_commands"
    section COMMANDS | roff_words | sed 's/^\.[A-Z]* *//' | tr '\n' ' ' | sed 's/ ,/,/g; s/ \././g' |
      grep -oE 'Alias(es)?: [^.]*' | sed -E 's/Alias(es)?: //' | tr ',' '\n' | tr -d ' '
  } | grep -vxE 'help|version|--help|-h|--version|-v' | sort)
  same "command words and aliases" "entry.cpp" "$entry_words" "$page_words"
fi

echo "$failures differences"
[ "$failures" -eq 0 ]
