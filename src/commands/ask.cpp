#include <algorithm>
#include <string>
#include <vector>

#include "cli/output.h"
#include "cli/unicode.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

JsonBody questionBody(const Question& question) {
  JsonBody body;
  body.set("message", question.message);
  addPresentation(body, question.presentation, Card::ask);
  std::vector<std::string_view> proposed;
  for (const auto& answer : question.answers) {
    std::string_view trimmed = trimmedSpaces(answer);
    if (!trimmed.empty()) proposed.push_back(trimmed);
  }
  if (!proposed.empty()) body.set("proposed_answers", std::move(proposed));
  return body;
}

// "--answers" is a comma-separated list.
std::vector<std::string_view> answersOf(const Args& args) {
  std::vector<std::string_view> answers;
  auto list = args.flag("answers");
  if (!list) return answers;
  size_t at = 0;
  while (at <= list->size()) {
    size_t comma = std::min(list->find(',', at), list->size());
    answers.push_back(list->substr(at, comma - at));
    at = comma + 1;
  }
  return answers;
}

}  // namespace

Response askQuestion(const VeskClient& client, const Question& question) {
  // The app holds the request open until the user acts.
  Response response = client.post("/chat", questionBody(question));
  if (response.statusCode == 408) die("request timed out — the user did not answer in time");
  requireOK(response);
  return response;
}

std::optional<std::string_view> answerIn(Response& answer) {
  auto text = jsonValueInPlace(answer.body, "answer");
  if (!text || text->empty()) return std::nullopt;
  return text;
}

std::optional<std::string> answerOf(Response answer) {
  auto text = answerIn(answer);
  if (!text) return std::nullopt;
  keepOnly(answer.body, *text);
  return std::move(answer.body);
}

void cmdAsk(const VeskClient& client, const Args& args) {
  Question question{
      requireMessage(args, "ask",
                     R"(vesk ask "question" [--answers "Yes,No"] [--name NAME] [--color HEX])"),
      answersOf(args), presentationOf(args)};
  Response response = askQuestion(client, question);
  if (printedRawJson(args, response)) return;
  // A dismissal is not a failure: the script sees an empty capture and exit status 0.
  auto answer = answerIn(response);
  if (!answer) return warn("user dismissed without answering");
  outFromApp(*answer);
}

}  // namespace vesk
