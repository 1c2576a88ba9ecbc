#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/vesk_client.h"
#include "commands/presentation.h"

// What each command asks of the app and how it reads the answer: one implementation for vesk's
// commands and vesk-mcp's tools. Each request function makes its command's one request and
// returns the answer when its status is 200; any other outcome ends the run (or, in vesk-mcp,
// the call) through `die` with the command's message. The readers never fail.
namespace vesk {

// health and characters are quick checks with a fixed limit, whatever the timeout says.
constexpr double kQuickCheckTimeoutSeconds = 5.0;

// The texts of the requests below are views of the caller's, which outlive the request.
Response postNotification(const VeskClient& client, std::string_view message,
                          const Presentation& presentation);

// The user speaks, as "You" in white unless the presentation says otherwise.
Response postAsUser(const VeskClient& client, std::string_view message,
                    const Presentation& presentation);

struct Question {
  std::string_view message;
  std::vector<std::string_view> answers;  // trimmed of spaces and tabs; empty ones are not proposed
  Presentation presentation;
};
// Waits while the app holds the question open; 408 is the user's time running out.
Response askQuestion(const VeskClient& client, const Question& question);
// The user's answer, or nothing when they dismissed the card: in the answer's body, which it
// changes, or taken out of it.
std::optional<std::string_view> answerIn(Response& answer);
std::optional<std::string> answerOf(Response answer);

// Waits while the user composes; 408 is nothing composed in time.
Response listenForMessage(const VeskClient& client);
// The composed message, or nothing when the user cancelled the compose; as answerIn and answerOf.
std::optional<std::string_view> composedMessageIn(Response& answer);
std::optional<std::string> composedMessageOf(Response answer);

// In the order the "unknown game" message lists them.
constexpr std::array<std::string_view, 3> kGameTypes = {"tic_tac_toe", "snake", "hangman"};

struct Game {
  std::string type;                      // one of kGameTypes
  std::optional<std::string_view> mode;  // hangman only
  std::optional<std::string_view> word;  // hangman only
  Presentation presentation;
};
// The game a word names, lower-cased with "-" read as "_"; nothing when it names none.
std::optional<std::string> gameTypeOf(std::string_view typed);
// Waits until the game ends; 408 is the game timing out.
Response playGame(const VeskClient& client, const Game& game);
// What the app says of the game: its "result", else the whole answer.
std::string gameResultOf(Response answer);

struct Health {
  std::optional<std::string> port;   // as the app reports it
  std::optional<std::string> games;  // as text: an array or object as compact JSON
};
// Any status but 200 is an "unexpected response".
Response checkHealth(const VeskClient& client);
Health healthOf(const Response& answer);

Response collapseCard(const VeskClient& client);
Response clearState(const VeskClient& client);

struct Character {
  std::string name;                // "?" when the app gives none
  std::string accent;              // "#7FD6FF" when the app gives none
  std::vector<std::string> faces;  // empty when none are listed, or any is not a text
};
Response fetchCharacters(const VeskClient& client);
// The characters, or nothing when the answer is not a JSON array of objects.
std::optional<std::vector<Character>> charactersOf(const Response& answer);

}  // namespace vesk
