# Prints what vesk's fish completion offers for each line read on standard input, space-separated,
# one line each. fish loads the completion by itself from $XDG_DATA_DIRS, which the caller points
# at the staged install's share folder before fish starts.
while read -l line
    set -l offered (complete -C "$line" | string replace -r '\t.*' '')
    echo (string join ' ' -- $offered)
end
