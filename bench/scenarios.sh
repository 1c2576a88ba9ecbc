# What make bench (bench/run.sh) and CI's count of instructions (bench/check-instructions.sh) run:
# the C programs vesk is measured against, a loopback server, a card's texts, and one line per
# run. Sourced, with $out (a folder of its own) and $vesk set; leaves the server's port in $port,
# the runs in $scenarios, and `serve`, `words_of`, `instructions` and `budgets` for the caller.
# shellcheck shell=bash disable=SC2154  # $out and $vesk are the sourcing script's

for program in server floor hello; do
  cc -O2 -Wall -Wextra -o "$out/$program" "bench/$program.c"
done
cc -O2 -Wall -Wextra -static -o "$out/exec-args" bench/exec-args.c 2>/dev/null ||
  cc -O2 -Wall -Wextra -o "$out/exec-args" bench/exec-args.c

# Each server picks a free port, prints it, and exits by itself after half an hour at most.
servers=()
trap 'kill ${servers[@]+"${servers[@]}"} 2>/dev/null || true' EXIT
serve() {  # serve NAME [ANSWER_BYTES]: starts a server; $served is its port once it listens
  rm -f "$out/$1.port"
  "$out/server" 0 1800 "${@:2}" >"$out/$1.port" &
  servers+=($!)
  until [ -s "$out/$1.port" ]; do sleep 0.05; done
  served=$(cat "$out/$1.port")
}
serve small
port=$served
url="http://127.0.0.1:$port"

base64_text() { head -c "$1" /dev/urandom | base64 | tr -d '\n'; }
# The largest single argument Linux passes is 128 KB: a 125 KB image is the largest that fits.
image=$(base64_text 96000)
printf '{"message":"hi","image_base64":"%s"}' "$image" >"$out/image.json"
# About 1 MB over the eight presentation options, 120 KB each; Base64 needs no JSON escapes.
options=(name color accent title image-url image-base64 chara face)
keys=(name name_color accent_hex title image_url image_base64 character face)
card=() floor_card=(message hi) card_json='{"message":"hi"'
for i in "${!options[@]}"; do
  value=$(base64_text 92160)
  card+=("--${options[i]}" "$value")
  floor_card+=("${keys[i]}" "$value")
  card_json+=",\"${keys[i]}\":\"$value\""
done
printf '%s}' "$card_json" >"$out/card.json"
# A 1 MB command line is more than hyperfine can take as one argument: each program of that row
# runs through exec-args, which reads its words from a file, so all three pay the same extra exec.
printf '%s\0' "$vesk" notify hi ${card[@]+"${card[@]}"} -p "$port" >"$out/card-vesk.args"
printf '%s\0' "$out/floor" "$port" POST /overlay --object "${floor_card[@]}" >"$out/card-floor.args"
printf '%s\0' "$(command -v curl)" -s -X POST -H Content-Type:application/json \
  -d "@$out/card.json" "$url/overlay" >"$out/card-curl.args"
small='{"message":"hi"}'

# scenario|program|command, one line each; the first program of a scenario is vesk, and the
# ratios compare it with the floor client (or hello) and curl of the same scenario.
scenarios=(
  "health|vesk|$vesk health -p $port"
  "health|floor|$out/floor $port GET /health"
  "health|curl|curl -s $url/health"
  "notify|vesk|$vesk notify hi -p $port"
  "notify|floor|$out/floor $port POST /overlay $small"
  "notify|curl|curl -s -X POST -H Content-Type:application/json -d $small $url/overlay"
  "notify 125 KB image|vesk|$vesk notify hi --image-base64 $image -p $port"
  "notify 125 KB image|floor|$out/floor $port POST /overlay $(cat "$out/image.json")"
  "notify 125 KB image|curl|curl -s -X POST -H Content-Type:application/json -d @$out/image.json $url/overlay"
  "notify 1 MB card|vesk|$out/exec-args $out/card-vesk.args"
  "notify 1 MB card|floor|$out/exec-args $out/card-floor.args"
  "notify 1 MB card|curl|$out/exec-args $out/card-curl.args"
  "version|vesk|$vesk version"
  "version|hello|$out/hello"
)

# The words of a scenario's program run without exec-args (that one exec is not the program's),
# in $words.
words_of() {  # words_of SCENARIO PROGRAM
  local line word
  for line in "${scenarios[@]}"; do
    [[ $line == "$1|$2|"* ]] || continue
    read -ra words <<<"${line#"$1|$2|"}"
    [ "${words[0]}" = "$out/exec-args" ] || return 0
    local file=${words[1]}
    words=()
    while IFS= read -r -d '' word; do words+=("$word"); done <"$file"
    return 0
  done
  echo "bench: no scenario '$1' for $2" >&2
  return 1
}

instructions() {  # instructions of one run, counted by callgrind: the same every time
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    awk '/Collected/ { gsub(",", "", $4); print $4 }'
}

# scenario|reference program|the most vesk may cost, in instructions, for each one of the
# reference's, one line each.
budgets() {
  grep -v -e '^#' -e '^$' bench/instruction-budgets
}
