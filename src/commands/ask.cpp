#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "cli/unicode.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/commands.h"
#include "commands/presentation.h"

namespace vesk {
namespace {

// "--answers" is a comma-separated list; pieces are trimmed of spaces and tabs and empty ones
// dropped.
std::vector<std::string> proposedAnswers(std::string_view list) {
  std::vector<std::string> answers;
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = std::min(list.find(',', at), list.size());
    std::string_view answer = trimmedSpaces(list.substr(at, comma - at));
    if (!answer.empty()) answers.emplace_back(answer);
    at = comma + 1;
  }
  return answers;
}

}  // namespace

void cmdAsk(const VeskClient& client, const Args& args) {
  nlohmann::json body = nlohmann::json::object();
  body["message"] = requireMessage(
      args, "ask", R"(vesk ask "question" [--answers "Yes,No"] [--name NAME] [--color HEX])");
  addPresentationOptions(body, args, Card::ask);
  if (auto list = args.flag("answers")) {
    auto answers = proposedAnswers(*list);
    if (!answers.empty()) body["proposed_answers"] = answers;
  }

  // The app holds the request open until the user acts.
  Response response = client.post("/chat", body);
  if (response.statusCode == 408) die("request timed out — the user did not answer in time");
  requireOK(response);
  if (printedRawJson(args, response)) return;
  // A dismissal is not a failure: the script sees an empty capture and exit status 0.
  std::string& answer = response.body;
  if (!takeJsonValue(answer, "answer") || answer.empty()) {
    return warn("user dismissed without answering");
  }
  outFromApp(answer);
}

}  // namespace vesk
