#include <algorithm>
#include <array>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "cli/unicode.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/commands.h"
#include "commands/presentation.h"

namespace vesk {
namespace {

// In the order the "unknown game" message lists them.
constexpr std::array<std::string_view, 3> kGames = {"tic_tac_toe", "snake", "hangman"};

// "Tic-Tac-Toe" is "tic_tac_toe"; surrounding spaces are kept, so they never match.
std::string normalisedGame(std::string_view typed) {
  std::string game = lowercased(typed);
  std::replace(game.begin(), game.end(), '-', '_');
  return game;
}

}  // namespace

void cmdGame(const VeskClient& client, const Args& args) {
  if (args.positional.empty()) {
    die("game requires a game type.\n\nUsage: vesk game <tic_tac_toe|snake|hangman> "
        "[--mode MODE] [--word WORD] [--accent HEX]");
  }
  const std::string& typed = args.positional.front();
  std::string game = normalisedGame(typed);
  if (std::find(kGames.begin(), kGames.end(), game) == kGames.end()) {
    die("unknown game '" + typed + "'. Valid games: tic_tac_toe, snake, hangman");
  }

  nlohmann::json body = nlohmann::json::object();
  body["game"] = game;
  addPresentationOptions(body, args, Card::game);
  if (game == "hangman") {
    if (auto mode = args.flag("mode")) body["hangman_mode"] = *mode;
    if (auto word = args.flag("word")) body["hangman_word"] = *word;
  }

  // The app answers when the game is over.
  Response response = client.post("/game", body);
  if (response.statusCode == 408) die("game timed out");
  requireOK(response);
  if (printedRawJson(args, response)) return;
  takeJsonValue(response.body, "result");  // else the whole answer is what the app says of it
  outFromApp(response.body);
}

}  // namespace vesk
