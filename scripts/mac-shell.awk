# Finds in a shell script what a Mac lacks: bash 3.2 is macOS's own bash, and its date, sed,
# stat, readlink, mktemp, time, grep and awk are BSD's, not GNU's. Prints FILE:LINE: why, one line
# each. Read the script twice (awk -f mac-shell.awk FILE FILE): the first pass finds the arrays
# that start empty. A line that only ever runs on Linux ends with "# Linux only".
# Run by scripts/lint.sh; itself written for Apple's awk.

function check(hit, why) {
  if (hit) {
    print FILENAME ":" FNR ": " why
    found++
  }
}

function without(text, part,   at) {
  while ((at = index(text, part)) > 0) text = substr(text, 1, at - 1) substr(text, at + length(part))
  return text
}

NR == FNR {
  line = $0
  while (match(line, /(^|[[:space:];(])[[:alpha:]_][[:alnum:]_]*=\(\)/)) {
    name = substr(line, RSTART, RLENGTH - 3)
    sub(/^[[:space:];(]/, "", name)
    empty[name] = 1
    line = substr(line, RSTART + RLENGTH)
  }
  next
}

/# Linux only$/ { next }

{
  code = $0
  sub(/(^|[[:space:]])#.*/, "", code)
  if (code ~ /^[[:space:]]*$/) next

  # bash 4 and later
  check(code ~ /(^|[^[:alnum:]_])(declare|local|typeset|readonly)[[:space:]]+-[[:alpha:]]*[Anglu]/,
        "declare -A, -n, -g, -l, -u: associative arrays, references, globals and cases are bash 4")
  check(code ~ /(^|[^[:alnum:]_])(mapfile|readarray|coproc)([^[:alnum:]_]|$)/,
        "mapfile, readarray and coproc are bash 4: read the lines in a loop")
  check(code ~ /\$\{[#!]?[[:alpha:]_][[:alnum:]_]*(\[[^]]*\])?(,|\^)/,
        "${var,,} and ${var^^} are bash 4: tr changes case")
  check(code ~ /\|&|&>>|;;&|(^|[^;]);&/, "|&, &>>, ;& and ;;& are bash 4")
  check(code ~ /\$\{[[:alpha:]_][[:alnum:]_]*\[-/, "negative array indices are bash 4.3")
  check(code ~ /\$\{[[:alpha:]_][[:alnum:]_]*:[^}:]*:-[0-9]/, "negative lengths are bash 4.2")
  check(code ~ /\$\{[^}]*@[QEPAaUuLK]\}/, "${var@Q} and its kin are bash 4.4")
  check(code ~ /(^|[^[:alnum:]_])wait[[:space:]]+-n|(\[\[?|test)[[:space:]]+-v[[:space:]]/,
        "wait -n and -v tests are bash 4.2 and later")
  check(code ~ /BASHPID|EPOCHREALTIME|EPOCHSECONDS|BASH_ARGV0/, "this variable is bash 4 or 5")
  check(code ~ /(^|[^$[:alnum:]_])\{[[:alpha:]_][[:alnum:]_]*\}[<>]/,
        "{var}> picks a descriptor in bash 4.1 and later only")
  check(code ~ /shopt[[:space:]]+-s[[:space:]]+(globstar|lastpipe|inherit_errexit|direxpand|globasciiranges)/,
        "this shell option is bash 4 or later")
  check(code ~ /printf[^|;]*%\([^)]*\)T|read[^|;]*-t[[:space:]]*[0-9]*\.[0-9]/,
        "printf's %(...)T and fractional read timeouts are bash 4")
  check(code ~ /\$\([^)]*<<-?[[:space:]]*['"]?[[:alpha:]_]/,
        "bash 3.2 misreads a here-document inside $( ) whose text has a quote: use a function")

  # GNU tools where macOS has BSD's
  check(code ~ /(^|[^[:alnum:]_-])date[[:space:]][^|;]*(%N|-d[[:space:]]|--)/,
        "date's %N, -d and long options are GNU's: gdate, or python3")
  check(code ~ /(^|[^[:alnum:]_-])sed[[:space:]]([^|;]*[[:space:]])?(-[[:alpha:]]*i([[:space:]]|$)|--[[:alpha:]])/,
        "sed -i without a suffix (-i.bak works on both) and sed's long options are GNU's")
  check(code ~ /(^|[^[:alnum:]_-])stat[[:space:]]+(-c|--)/, "stat -c is GNU's: macOS's is stat -f")
  check(code ~ /(^|[^[:alnum:]_-])readlink[[:space:]]+-[[:alpha:]]*[fem]/,
        "readlink -f, -e, -m are GNU's: cd and pwd -P")
  check(code ~ /(^|[^[:alnum:]_-])mktemp[[:space:]][^|;)]*(--|-p[[:space:]])/,
        "mktemp's -p and long options are GNU's")
  check(code ~ /(^|[^[:alnum:]_-])time[[:space:]]+(-[fvo]|--)/,
        "time -f, -v, -o are GNU time's: gtime on macOS, whose own is /usr/bin/time -l")
  check(code ~ /(^|[^[:alnum:]_-])timeout[[:space:]]+-?[0-9]/, "macOS has no timeout: gtimeout")
  check(code ~ /(^|[^[:alnum:]_-])grep[[:space:]]+(-[[:alpha:]]*P|--perl)/, "grep -P is GNU's")
  check(code ~ /(^|[^[:alnum:]_-])head[[:space:]]+-[nc][[:space:]]*-[0-9]/, "head -n -N is GNU's")
  check(code ~ /(^|[^[:alnum:]_-])base64[[:space:]]+(-w|--)/, "base64 -w and long options are GNU's")
  check(code ~ /(^|[^[:alnum:]_-])find[[:space:]][^|;]*-printf/, "find -printf is GNU's")
  check(code ~ /(^|[^[:alnum:]_-])(gensub|strftime|systime|asorti?)\(|PROCINFO|IGNORECASE|BEGINFILE|ENDFILE/,
        "gawk's own: Apple's awk has none of it")

  # An empty array expanded under set -u stops bash 3.2 with "unbound variable".
  for (name in empty) {
    all = "${" name "[@]"
    guarded = all "+\"" all "}\"}"
    rest = without(code, guarded)
    check(index(rest, all) || index(rest, "${" name "[*]"),
          name " starts empty, and bash 3.2 under set -u stops at " all "} when it is: write " guarded)
  }
}

END { exit found > 0 }
