#include "mcp/tools.h"

#include <vector>

#include "cli/args.h"
#include "cli/output.h"
#include "client/data_task.h"
#include "commands/calls.h"
#include "mcp/arguments.h"

namespace vesk::mcp {

using Json = nlohmann::json;

namespace {

// What a call gives back when the app accepted it: text for people and models, and data that
// matches the tool's output schema (null when it has none).
struct Outcome {
  std::string text;
  Json structured;
};

}  // namespace

// Whom a call waits for: at the end of input nobody is left to answer a person's card.
enum class Waits { forApp, forPerson };

struct Tool {
  std::string name;
  std::string description;
  std::vector<Argument> arguments;
  Json outputSchema;  // null when the tool returns no data
  Outcome (*run)(const VeskClient& client, const Json& arguments);
  Waits waits = Waits::forApp;
};

namespace {

// What `die` throws on a call's thread, for callTool to catch.
struct Failure {
  std::string message;
};

// The requests take views of their texts: these are views into the call's arguments, which
// outlive the request.
std::string_view text(const Json& arguments, const char* name) {
  return arguments.at(name).get_ref<const std::string&>();
}

std::optional<std::string_view> optionalText(const Json& arguments, const char* name) {
  auto found = arguments.find(name);
  if (found == arguments.end()) return std::nullopt;
  return found->get_ref<const std::string&>();
}

std::vector<std::string_view> texts(const Json& arguments, const char* name) {
  std::vector<std::string_view> views;
  auto found = arguments.find(name);
  if (found == arguments.end()) return views;
  for (const auto& item : *found) views.push_back(item.get_ref<const std::string&>());
  return views;
}

Outcome notify(const VeskClient& client, const Json& arguments) {
  postNotification(client, text(arguments, "message"), presentationIn(arguments, Card::notify));
  return {"notification sent", nullptr};
}

Outcome ask(const VeskClient& client, const Json& arguments) {
  auto answer =
      answerOf(askQuestion(client, {text(arguments, "message"), texts(arguments, "answers"),
                                    presentationIn(arguments, Card::ask)}));
  if (!answer) return {"user dismissed without answering", {{"dismissed", true}}};
  return {*answer, {{"dismissed", false}, {"answer", *answer}}};
}

Outcome listen(const VeskClient& client, const Json&) {
  auto message = composedMessageOf(listenForMessage(client));
  if (!message) return {"compose was cancelled — no message", {{"cancelled", true}}};
  return {*message, {{"cancelled", false}, {"message", *message}}};
}

Outcome say(const VeskClient& client, const Json& arguments) {
  postAsUser(client, text(arguments, "message"), presentationIn(arguments, Card::say));
  return {"message sent", nullptr};
}

Outcome game(const VeskClient& client, const Json& arguments) {
  // The schema takes the games by their exact names, so there is nothing to normalise.
  std::string result = gameResultOf(
      playGame(client, {std::string(text(arguments, "game")), optionalText(arguments, "mode"),
                        optionalText(arguments, "word"), presentationIn(arguments, Card::game)}));
  return {result, {{"result", result}}};
}

Outcome characters(const VeskClient& client, const Json&) {
  Response answer = fetchCharacters(client);
  auto list = charactersOf(answer);
  if (!list) return {answer.body, {{"answer", answer.body}}};
  Json items = Json::array();
  for (const auto& character : *list) {
    items.push_back(
        {{"name", character.name}, {"accent_hex", character.accent}, {"faces", character.faces}});
  }
  Json structured = {{"characters", std::move(items)}};
  return {structured.dump(), structured};
}

Outcome health(const VeskClient& client, const Json&) {
  Health health = healthOf(checkHealth(client));
  Json structured = Json::object();
  if (health.port) structured["port"] = *health.port;
  if (health.games) structured["games"] = *health.games;
  return {"Tarnel is running on port " + health.port.value_or("?") +
              ", games: " + health.games.value_or("[]"),
          structured};
}

Outcome collapse(const VeskClient& client, const Json&) {
  collapseCard(client);
  return {"card collapsed", nullptr};
}

Outcome clear(const VeskClient& client, const Json&) {
  clearState(client);
  return {"state cleared", nullptr};
}

const Argument kMessage{"message", Kind::text, "the text of the card", true};
const Argument kTimeout{
    "timeout", Kind::seconds,
    "seconds to wait for the app before the call fails with \"request timed out\" (default 300)"};

// The tool's own arguments, then the presentation options its card reads, then the timeout.
std::vector<Argument> cardArguments(Card card, std::vector<Argument> own) {
  for (auto& argument : presentationArguments(card)) own.push_back(std::move(argument));
  own.push_back(kTimeout);
  return own;
}

const std::vector<Tool>& tools() {
  static const std::vector<Tool> table = {
      {"notify",
       "Show a notification card in the notch of the user's screen. Returns at once; the user "
       "does not answer it.",
       cardArguments(Card::notify, {kMessage}), nullptr, notify},
      {"ask",
       "Ask the user a question in the notch and wait until they answer, dismiss the card or "
       "time runs out. The user picks one of the proposed answers or types their own. A "
       "dismissal is a result with dismissed true and no answer: do not take it as consent.",
       cardArguments(Card::ask,
                     {{"message", Kind::text, "the question", true},
                      {"answers", Kind::texts, "proposed answers, offered in this order"}}),
       Json::parse(R"({"type": "object", "required": ["dismissed"], "properties": {
         "dismissed": {"type": "boolean", "description": "true when the user closed the card without answering"},
         "answer": {"type": "string", "description": "the user's answer; absent when dismissed"}}})"),
       ask, Waits::forPerson},
      {"listen",
       "Wait for the user to compose a message in the notch (they open the compose box with "
       "⌘⇧K) and return it. A cancelled compose is a result with cancelled true and no message.",
       {kTimeout},
       Json::parse(R"({"type": "object", "required": ["cancelled"], "properties": {
         "cancelled": {"type": "boolean", "description": "true when the user cancelled the compose"},
         "message": {"type": "string", "description": "the composed message; absent when cancelled"}}})"),
       listen,
       Waits::forPerson},
      {"say",
       "Post a message to the notch as if the user had written it: the speaker is \"You\" in "
       "white unless name and accent say otherwise. Returns at once.",
       cardArguments(Card::say, {kMessage}), nullptr, say},
      {"game", "Start a mini-game in the notch and wait until it ends; returns the app's result.",
       cardArguments(Card::game,
                     {{"game", Kind::game, "which game", true},
                      {"mode", Kind::text, "hangman only: user_guesses or agent_guesses"},
                      {"word", Kind::text, "hangman only: the word to guess"}}),
       Json::parse(R"({"type": "object", "required": ["result"], "properties": {
         "result": {"type": "string", "description": "the app's result, or its whole answer when it gives none"}}})"),
       game, Waits::forPerson},
      {"characters",
       "List the characters loaded in the app, with their accent colours and faces: the values "
       "that the chara and face arguments of the card tools take. Fails after 5 seconds.",
       {},
       Json::parse(R"({"type": "object", "properties": {
         "characters": {"type": "array", "items": {"type": "object",
           "required": ["name", "accent_hex", "faces"], "properties": {
             "name": {"type": "string"}, "accent_hex": {"type": "string"},
             "faces": {"type": "array", "items": {"type": "string"}}}}},
         "answer": {"type": "string", "description": "the app's answer as it came, when it is not a list of characters"}}})"),
       characters},
      {"health",
       "Check that the Tarnel app is running, and see its port and games. Fails after 5 "
       "seconds.",
       {},
       Json::parse(R"({"type": "object", "properties": {
         "port": {"type": "string", "description": "the port the app reports"},
         "games": {"type": "string", "description": "the games the app reports, as JSON text"}}})"),
       health},
      {"collapse", "Hide the card shown in the notch.", {kTimeout}, nullptr, collapse},
      {"clear", "Clear all of the app's state.", {kTimeout}, nullptr, clear},
  };
  return table;
}

}  // namespace

const Tool* findTool(std::string_view name) {
  for (const auto& tool : tools()) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}

const Json& toolList() {
  static const Json list = [] {
    Json listed = Json::array();
    for (const auto& tool : tools()) {
      Json entry = {{"name", tool.name},
                    {"description", tool.description},
                    {"inputSchema", inputSchema(tool.arguments)}};
      if (!tool.outputSchema.is_null()) entry["outputSchema"] = tool.outputSchema;
      listed.push_back(std::move(entry));
    }
    return Json{{"tools", std::move(listed)}};
  }();
  return list;
}

bool waitsForPerson(const Tool& tool) {
  return tool.waits == Waits::forPerson;
}

std::optional<std::string> argumentProblem(const Tool& tool, const Json& arguments) {
  return argumentProblem(tool.arguments, arguments);
}

Json toolError(std::string_view message) {
  Json result = {{"content", Json::array()}, {"isError", true}};
  result["content"].push_back({{"type", "text"}, {"text", std::string(message)}});
  return result;
}

Json callTool(const Tool& tool, const Json& arguments, int port, Cancellation& cancellation) {
  setFailureHandler([](std::string_view message) { throw Failure{std::string(message)}; });
  try {
    VeskClient client(port, arguments.value("timeout", kDefaultTimeoutSeconds));
    client.cancellation = &cancellation;
    Outcome outcome = tool.run(client, arguments);
    Json result = {{"content", Json::array()}};
    result["content"].push_back({{"type", "text"}, {"text", std::move(outcome.text)}});
    if (!outcome.structured.is_null()) result["structuredContent"] = std::move(outcome.structured);
    return result;
  } catch (const Failure& failure) {
    return toolError(failure.message);
  } catch (const std::exception& e) {
    return toolError(std::string("internal error: ") + e.what());
  }
}

}  // namespace vesk::mcp
