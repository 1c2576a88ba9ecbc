#include <algorithm>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "cli/unicode.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

nlohmann::json gameBody(const Game& game) {
  nlohmann::json body = nlohmann::json::object();
  body["game"] = game.type;
  addPresentation(body, game.presentation, Card::game);
  if (game.type == "hangman") {
    if (game.mode) body["hangman_mode"] = *game.mode;
    if (game.word) body["hangman_word"] = *game.word;
  }
  return body;
}

}  // namespace

std::optional<std::string> gameTypeOf(std::string_view typed) {
  // Surrounding spaces are kept, so they never match.
  std::string type = lowercased(typed);
  std::replace(type.begin(), type.end(), '-', '_');
  if (std::find(kGameTypes.begin(), kGameTypes.end(), type) == kGameTypes.end()) {
    return std::nullopt;
  }
  return type;
}

Response playGame(const VeskClient& client, const Game& game) {
  // The app answers when the game is over.
  Response response = client.post("/game", gameBody(game));
  if (response.statusCode == 408) die("game timed out");
  requireOK(response);
  return response;
}

std::string gameResultOf(Response answer) {
  takeJsonValue(answer.body, "result");  // else the whole answer is what the app says of it
  return std::move(answer.body);
}

void cmdGame(const VeskClient& client, const Args& args) {
  if (args.positional.empty()) {
    die("game requires a game type.\n\nUsage: vesk game <tic_tac_toe|snake|hangman> "
        "[--mode MODE] [--word WORD] [--accent HEX]");
  }
  const std::string& typed = args.positional.front();
  auto type = gameTypeOf(typed);
  if (!type) die("unknown game '" + typed + "'. Valid games: tic_tac_toe, snake, hangman");

  Response response =
      playGame(client, {*type, args.flag("mode"), args.flag("word"), presentationOf(args)});
  if (printedRawJson(args, response)) return;
  outFromApp(gameResultOf(std::move(response)));
}

}  // namespace vesk
