# fish completion for vesk

# The command on the line by its full name, from its word or alias in any case; nothing before one
# is typed.
function __vesk_command
    set -l tokens (commandline -opc)
    set -l typed (string lower -- "$tokens[2]")
    switch "$typed"
        case notify n
            echo notify
        case ask a
            echo ask
        case listen l
            echo listen
        case say s
            echo say
        case game g
            echo game
        case characters chars c
            echo characters
        case health ping
            echo health
        case collapse clear
            echo $typed
        case '*'
            return 1
    end
end

# The value given on the line to the first of the options named, e.g. `__vesk_value --port -p`.
function __vesk_value
    set -l tokens (commandline -opc)
    for i in (seq 3 (math (count $tokens) - 1))
        if contains -- $tokens[$i] $argv
            echo $tokens[(math $i + 1)]
            return
        end
    end
    return 1
end

# The first word after the command that is neither an option nor an option's value: the message
# or the game. Fails while there is none.
function __vesk_argument
    set -l tokens (commandline -opc)
    set -l i 3
    while test $i -le (count $tokens)
        switch $tokens[$i]
            case --json
            case '-*'
                set i (math $i + 1)
            case '*'
                echo $tokens[$i]
                return
        end
        set i (math $i + 1)
    end
    return 1
end

function __vesk_command_is --argument-names wanted
    set -l command (__vesk_command)
    test "$command" = $wanted
end

function __vesk_game_is --argument-names wanted
    set -l game (__vesk_argument | string lower | string replace -a -- - _)
    test "$game" = $wanted
end

# Whether the command on the line reads the option, long name without its dashes.
function __vesk_reads --argument-names option
    set -l command (__vesk_command); or return 1
    switch $option
        case port timeout json
            return 0
        case name color
            contains -- $command notify ask say
        case title image-url image-base64
            contains -- $command notify ask
        case accent chara face
            contains -- $command notify ask say game
        case answers
            test $command = ask
        case mode word
            test $command = game; and __vesk_game_is hangman
    end
end

# Asks the running app for its characters, printing their names ("names") or their faces
# ("faces", of the character given with --chara when there is one, else of all). The app gets
# one second to answer; on a failure or silence nothing is printed.
function __vesk_characters --argument-names want
    set -l port_options
    set -l port (__vesk_value --port -p); and set port_options --port $port
    # vesk characters waits up to 5 s; sh runs it in the background and ends it after one.
    set -l json (sh -c 'vesk characters --json "$@" 2>/dev/null &
        app=$!
        (sleep 1; kill "$app") >/dev/null 2>&1 &
        watch=$!
        wait "$app"; status=$?
        kill "$watch" 2>/dev/null
        exit "$status"' vesk $port_options 2>/dev/null | string join ' ')
    test -n "$json"; or return
    set -l chara (__vesk_value --chara)
    set -l found
    # Each character is a flat object: {"name":"…","accent_hex":"…","faces":["…",…]}.
    for object in (string match -ar '\{[^{}]*\}' -- $json)
        set -l name (string match -r '"name"\s*:\s*"([^"]*)"' -- $object)[2]
        if test "$want" = names
            test -n "$name"; and echo $name
            continue
        end
        if test -n "$chara"; and test (string lower -- "$name") != (string lower -- $chara)
            continue
        end
        set -l faces (string match -r '"faces"\s*:\s*\[([^\]]*)\]' -- $object)[2]
        for face in (string match -ar '"[^"]*"' -- $faces | string trim -c '"')
            contains -- $face $found; or set -a found $face
        end
    end
    string join \n -- $found
end

complete -c vesk -f

complete -c vesk -n __fish_use_subcommand -a notify -d 'Send a notification to the notch'
complete -c vesk -n __fish_use_subcommand -a ask -d 'Ask a question (blocks until answered)'
complete -c vesk -n __fish_use_subcommand -a listen -d 'Wait for the user to compose a message'
complete -c vesk -n __fish_use_subcommand -a say -d 'Send a message to the notch as the user'
complete -c vesk -n __fish_use_subcommand -a game -d 'Start a mini-game (blocks until finished)'
complete -c vesk -n __fish_use_subcommand -a characters -d 'List loaded characters and their faces'
complete -c vesk -n __fish_use_subcommand -a health -d 'Check if the app is running'
complete -c vesk -n __fish_use_subcommand -a collapse -d 'Hide the current card'
complete -c vesk -n __fish_use_subcommand -a clear -d 'Clear all state'
complete -c vesk -n __fish_use_subcommand -a help -d 'Show the help'
complete -c vesk -n __fish_use_subcommand -a version -d 'Print the version'
complete -c vesk -n __fish_use_subcommand -s h -l help -d 'Show the help'
complete -c vesk -n __fish_use_subcommand -s v -l version -d 'Print the version'

complete -c vesk -n '__vesk_command_is game; and not __vesk_argument' \
    -a 'tic_tac_toe snake hangman'

complete -c vesk -n '__vesk_reads port' -s p -l port -x -d 'Override the API port (default 47037)'
complete -c vesk -n '__vesk_reads timeout' -s t -l timeout -x -d 'Request timeout in seconds (default 300)'
complete -c vesk -n '__vesk_reads json' -l json -d 'Output raw JSON instead of parsed text'
complete -c vesk -n '__vesk_reads name' -l name -x -d 'Sender name'
complete -c vesk -n '__vesk_reads color' -l color -x -d 'Colour of the name'
complete -c vesk -n '__vesk_reads accent' -l accent -x -d 'Accent colour'
complete -c vesk -n '__vesk_reads title' -l title -x -d 'Card title'
complete -c vesk -n '__vesk_reads image-url' -l image-url -x -d 'Image to show, by URL'
complete -c vesk -n '__vesk_reads image-base64' -l image-base64 -x -d 'Image to show, as base64 data'
complete -c vesk -n '__vesk_reads chara' -l chara -x -a '(__vesk_characters names)' \
    -d "Use a character's face, name and colour"
complete -c vesk -n '__vesk_reads face' -l face -x -a '(__vesk_characters faces)' \
    -d 'Which face/mood to use'
complete -c vesk -n '__vesk_reads answers' -l answers -x -d 'Answers to offer, comma-separated'
complete -c vesk -n '__vesk_reads mode' -l mode -x -a 'user_guesses agent_guesses' -d 'Hangman mode'
complete -c vesk -n '__vesk_reads word' -l word -x -d 'Hangman word'
