#include <algorithm>
#include <string_view>

#include "cli/output.h"
#include "cli/unicode.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

JsonBody gameBody(const Game& game) {
  JsonBody body;
  body.set("game", game.type);
  addPresentation(body, game.presentation, Card::game);
  if (game.type == "hangman") {
    if (game.mode) body.set("hangman_mode", *game.mode);
    if (game.word) body.set("hangman_word", *game.word);
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
  const std::string_view typed = args.positional.front();
  auto type = gameTypeOf(typed);
  if (!type) {
    die("unknown game '" + std::string(typed) + "'. Valid games: tic_tac_toe, snake, hangman");
  }

  Response response =
      playGame(client, {*type, args.flag("mode"), args.flag("word"), presentationOf(args)});
  if (printedRawJson(args, response)) return;
  outFromApp(gameResultOf(std::move(response)));
}

}  // namespace vesk
