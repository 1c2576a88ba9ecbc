# bash completion for vesk                                    -*- shell-script -*-
#
# Standalone: it needs neither the bash-completion package's helpers nor a bash newer than 3.2
# (the one macOS ships), so it works wherever it is sourced.

_vesk_commands='notify ask listen say game characters health collapse clear help version'
_vesk_games='tic_tac_toe snake hangman'
_vesk_modes='user_guesses agent_guesses'

# Asks the running app for its characters, printing their names ("names") or their faces
# ("faces", of the character $3 when given, else of all). $2 is the port typed on the line.
# The app gets one second to answer; on a failure or silence nothing is printed.
_vesk_characters() {
  # vesk characters waits up to 5 s; sh runs it in the background and ends it after one.
  sh -c 'vesk characters --json "$@" 2>/dev/null &
    app=$!
    (sleep 1; kill "$app") >/dev/null 2>&1 &
    watch=$!
    wait "$app"; status=$?
    kill "$watch" 2>/dev/null
    exit "$status"' vesk ${2:+--port "$2"} 2>/dev/null |
    awk -v want="$1" -v chara="$3" '
      # Each character is a flat object: {"name":"…","accent_hex":"…","faces":["…",…]}.
      { json = json $0 " " }
      END {
        while (match(json, /\{[^{}]*\}/)) {
          object = substr(json, RSTART, RLENGTH)
          json = substr(json, RSTART + RLENGTH)
          name = ""
          if (match(object, /"name"[ \t]*:[ \t]*"[^"]*"/)) {
            name = substr(object, RSTART, RLENGTH)
            sub(/^"name"[ \t]*:[ \t]*"/, "", name)
            name = substr(name, 1, length(name) - 1)
          }
          if (want == "names") { if (name != "") print name; continue }
          if (chara != "" && tolower(name) != tolower(chara)) continue
          if (!match(object, /"faces"[ \t]*:[ \t]*\[[^]]*\]/)) continue
          faces = substr(object, RSTART, RLENGTH)
          sub(/^"faces"[^[]*\[/, "", faces)
          while (match(faces, /"[^"]*"/)) {
            face = substr(faces, RSTART + 1, RLENGTH - 2)
            faces = substr(faces, RSTART + RLENGTH)
            if (!(face in seen)) { seen[face] = 1; print face }
          }
        }
      }'
}

# The options a command reads, by its full name; for game, $2 is the game chosen so far.
_vesk_options() {
  local globals='--port -p --timeout -t --json'
  case $1 in
    notify) echo "$globals --name --color --accent --title --image-url --image-base64 --chara --face" ;;
    ask) echo "$globals --answers --name --color --accent --title --image-url --image-base64 --chara --face" ;;
    say) echo "$globals --name --color --accent --chara --face" ;;
    game)
      echo "$globals --accent --chara --face"
      [ "$2" = hangman ] && echo '--mode --word'
      ;;
    listen | characters | health | collapse | clear) echo "$globals" ;;
  esac
}

# Adds the words of $1 that begin with $cur to COMPREPLY (they hold no space and no pattern).
_vesk_reply_words() {
  local word
  for word in $1; do
    [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
  done
}

# Adds the lines of $1 that begin with $cur to COMPREPLY, quoted for the command line.
_vesk_reply_lines() {
  local line
  while IFS= read -r line; do
    [[ -n $line && $line == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$line")")
  done <<<"$1"
}

_vesk() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()

  if ((COMP_CWORD == 1)); then
    if [[ $cur == -* ]]; then
      _vesk_reply_words '--help -h --version -v'
    else
      _vesk_reply_words "$_vesk_commands"
    fi
    return
  fi

  # vesk reads its command word in any case.
  local command typed
  typed=$(printf '%s' "${COMP_WORDS[1]}" | tr '[:upper:]' '[:lower:]')
  case $typed in
    notify | n) command=notify ;;
    ask | a) command=ask ;;
    listen | l) command=listen ;;
    say | s) command=say ;;
    game | g) command=game ;;
    characters | chars | c) command=characters ;;
    health | ping) command=health ;;
    collapse | clear) command=$typed ;;
    *) return ;; # help, version and unknown words take nothing
  esac

  # What is already on the line: the port and character to ask the app with, the first word that
  # is not an option (the message or the game), and the options given.
  local i word port='' chara='' argument='' given=' '
  for ((i = 2; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      --json) given+='--json ' ;;
      -*)
        case $word in
          --port | -p) given+='--port -p ' ;;
          --timeout | -t) given+='--timeout -t ' ;;
          *) given+="$word " ;;
        esac
        ((i + 1 < COMP_CWORD)) || break
        ((i++))
        case $word in
          --port | -p) port=${COMP_WORDS[i]} ;;
          --chara) chara=${COMP_WORDS[i]} ;;
        esac
        ;;
      *) [[ -n $argument ]] || argument=$word ;;
    esac
  done

  case $prev in
    --mode)
      _vesk_reply_words "$_vesk_modes"
      return ;;
    --chara)
      _vesk_reply_lines "$(_vesk_characters names "$port")"
      return ;;
    --face)
      _vesk_reply_lines "$(_vesk_characters faces "$port" "$chara")"
      return ;;
    --port | -p | --timeout | -t | --name | --color | --accent | --title | --image-url | \
      --image-base64 | --answers | --word)
      return ;; # free text
  esac

  if [[ $cur != -* && -z $argument ]]; then
    case $command in
      game)
        _vesk_reply_words "$_vesk_games"
        return ;;
      notify | ask | say) return ;; # the message is free text
    esac
  fi

  local game
  game=$(printf '%s' "$argument" | tr 'A-Z-' 'a-z_')
  local option options=''
  for option in $(_vesk_options "$command" "$game"); do
    [[ $given == *" $option "* ]] || options+="$option "
  done
  _vesk_reply_words "$options"
}

complete -F _vesk vesk
