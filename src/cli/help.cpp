#include "cli/help.h"

#include <string_view>

#include "cli/output.h"

namespace vesk {
namespace {

// The help as it reads, with the painted segments marked {b:bold}, {c:cyan}, {y:yellow} and
// {d:dim}. No marked text contains a brace.
constexpr std::string_view kHelpSource = R"({b:vesk} — CLI companion for Tarnel

{b:USAGE:}
    vesk <command> [options]

{b:COMMANDS:}
    {c:notify}    Send a notification to the notch
    {c:ask}       Ask a question (blocks until answered)
    {c:listen}    Wait for user to compose a message (⌘⇧K)
    {c:say}       Send a message to the notch as the user
    {c:game}      Start a mini-game (blocks until finished)
    {c:characters}  List loaded characters and their faces
    {c:health}    Check if the app is running
    {c:collapse}  Hide the current card
    {c:clear}     Clear all state
    {c:help}      Show this help message
    {c:version}   Print version

{b:GLOBAL OPTIONS:}
    {y:--port} <PORT>       Override the API port (default: 47037)
    {y:--timeout} <SECS>    Request timeout in seconds (default: 300)
    {y:--json}              Output raw JSON instead of parsed text
    {y:--chara} <NAME>     Use a character's face, name & color
    {y:--face} <MOOD>      Which face/mood to use (default: first)
{b:NOTIFY:}
    vesk notify <message> [{y:--name} NAME] [{y:--color} HEX] [{y:--accent} HEX]
                          [{y:--title} TITLE] [{y:--image-url} URL]
                          [{y:--image-base64} DATA]

{b:ASK:}
    vesk ask <message> [{y:--answers} "A,B,C"] [{y:--name} NAME] [{y:--color} HEX]
                      [{y:--accent} HEX] [{y:--title} TITLE]

{b:SAY:}
    vesk say <message> [{y:--name} NAME] [{y:--accent} HEX] [{y:--color} HEX]

{b:GAME:}
    vesk game <tic_tac_toe|snake|hangman>
             [{y:--mode} user_guesses|agent_guesses]  {d:(hangman only)}
             [{y:--word} WORD]                        {d:(hangman only)}
             [{y:--accent} HEX]

{b:CHARACTER:}
    Use {y:--chara} with notify, ask, say, or game to show a character:
    {d:$} vesk notify "Hello!" --chara Vesk
    {d:$} vesk notify "Grr!" --chara Vesk --face angry
    {d:$} vesk ask "Play?" --chara Soleth --answers "Yes,No"

{b:EXAMPLES:}
    {d:$} vesk notify "Hello world!"
    {d:$} vesk notify "Build done" --name CI --color "#00FF00"
    {d:$} vesk ask "Deploy?" --answers "Yes,No,Rollback"
    {d:$} vesk ask "Name?" --name Vesk --json
    {d:$} vesk say "remind me to review the PR at 5pm"
    {d:$} vesk game tic_tac_toe
    {d:$} vesk game hangman --mode user_guesses
    {d:$} vesk listen
    {d:$} vesk health
    {d:$} vesk collapse
    {d:$} vesk clear
    {d:$} vesk characters
    {d:$} vesk notify "Hello!" --chara Vesk --face happy

    {d:# Scripting — capture the answer:}
    {d:$} answer=$(vesk ask "Continue?" --answers "Yes,No")
    {d:$} echo "User said: $answer"

    {d:# Pipe listen into another command:}
    {d:$} vesk listen | xargs echo "User composed:")";

std::string_view codeFor(char mark) {
  switch (mark) {
    case 'b':
      return C::bold;
    case 'c':
      return C::cyan;
    case 'y':
      return C::yellow;
    default:
      return C::dim;
  }
}

}  // namespace

std::string helpText() {
  std::string text;
  text.reserve(kHelpSource.size() + 512);
  size_t at = 0;
  while (true) {
    size_t open = kHelpSource.find('{', at);
    if (open == std::string_view::npos) break;
    size_t close = kHelpSource.find('}', open);
    text.append(kHelpSource.substr(at, open - at));
    text.append(
        paint(kHelpSource.substr(open + 3, close - open - 3), codeFor(kHelpSource[open + 1])));
    at = close + 1;
  }
  text.append(kHelpSource.substr(at));
  return text;
}

void cmdHelp() {
  out(helpText());
}

}  // namespace vesk
