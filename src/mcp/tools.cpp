#include "mcp/tools.h"

#include <algorithm>
#include <array>
#include <vector>

#include "cli/args.h"
#include "cli/output.h"
#include "client/data_task.h"
#include "client/json_value.h"
#include "commands/calls.h"
#include "mcp/approve.h"
#include "mcp/arguments.h"
#include "mcp/raw_json.h"

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

// How a tool acts on its surroundings, for hosts that approve read-only calls by themselves and
// warn before destructive ones. Every hint is written out: an absent one means its worst case.
struct Hints {
  bool readOnly;
  bool destructive;
  bool idempotent;
  bool openWorld;
};

struct Tool {
  std::string name;
  std::string title;
  std::string description;
  Hints hints;
  bool waitsForPerson = false;
  std::vector<Argument> arguments = {};
  Others others = Others::refused;
  Json outputSchema = nullptr;  // null when the tool returns no data
  Outcome (*run)(const VeskClient& client, const Json& arguments) = nullptr;
  // A host's permission decision: whatever goes wrong, the answer is a refusal, never an error,
  // and Allow hands back the input exactly as it came.
  bool approval = false;
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

// The port as an integer and the games as a list of names when the app sent them so; else each
// as the text vesk prints for it, which the output schema allows too.
Outcome health(const VeskClient& client, const Json&) {
  Response answer = checkHealth(client);
  Health health = healthOf(answer);
  Json structured = Json::object();
  if (health.port) structured["port"] = *health.port;
  if (health.games) structured["games"] = *health.games;
  Json document = parsedJson(answer.body);
  if (document.is_object()) {
    auto port = document.find("port");
    if (port != document.end() && port->is_number_integer()) structured["port"] = *port;
    auto games = document.find("games");
    if (games != document.end() && games->is_array() &&
        std::all_of(games->begin(), games->end(), [](const Json& g) { return g.is_string(); })) {
      structured["games"] = *games;
    }
  }
  return {"Tarnel is running on port " + health.port.value_or("?") +
              ", games: " + health.games.value_or("[]"),
          std::move(structured)};
}

Outcome collapse(const VeskClient& client, const Json&) {
  collapseCard(client);
  return {"card collapsed", nullptr};
}

Outcome clear(const VeskClient& client, const Json&) {
  clearState(client);
  return {"state cleared", nullptr};
}

// Fails closed: every outcome but the user's "Allow" is a refusal, never an error result, which a
// host would read as a refusal without the reason. The card and the decision are made from the
// same text, the input as the host wrote it.
std::string approve(const VeskClient& client, const Json& arguments, std::string_view rawArguments,
                    const Settings& settings) {
  const char* member = arguments.contains("input") ? "input" : "tool_input";
  const std::string_view rawInput = rawMember(rawArguments, member).value_or("");
  const std::string& toolName = arguments.at("tool_name").get_ref<const std::string&>();
  ApprovalCard card = approvalCard(toolName, rawInput);
  if (card.problem) return denial(*card.problem);
  if (!card.whole && settings.approveWhole) return denial(tooLongToShow(toolName));
  const std::string title = approvalTitle(settings.agent);
  try {
    auto answer =
        answerOf(askQuestion(client, {card.question, {"Allow", "Deny"}, {{"title", title}}}));
    if (verdictOf(answer) == Verdict::allowed) return allowDecision(rawInput);
    return denial(refusalFor(answer, toolName));
  } catch (const Failure& failure) {
    return denial(failure.message);
  } catch (const std::exception& e) {
    return denial(std::string("internal error: ") + e.what());
  }
}

Json textResult(std::string text) {
  Json result = {{"content", Json::array()}};
  result["content"].push_back({{"type", "text"}, {"text", std::move(text)}});
  return result;
}

constexpr Hints kReadsOnly{
    .readOnly = true, .destructive = false, .idempotent = true, .openWorld = false};
// A card or a question more: nothing is lost, and each call shows one more.
constexpr Hints kAdds{
    .readOnly = false, .destructive = false, .idempotent = false, .openWorld = false};
constexpr Hints kHides{
    .readOnly = false, .destructive = false, .idempotent = true, .openWorld = false};
constexpr Hints kDestroys{
    .readOnly = false, .destructive = true, .idempotent = true, .openWorld = false};

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

// Written for a model choosing among the tools: when to use each, and what comes back.
const std::vector<Tool>& tools() {
  static const std::vector<Tool> table = {
      {.name = "notify",
       .title = "Notify the user",
       .description =
           "Tell the user something without waiting for a reply: shows a notification card in "
           "the notch at the top of their Mac screen and returns \"notification sent\" at once. "
           "Use it for progress, results and heads-ups. To get a reply, use ask.",
       .hints = kAdds,
       .arguments = cardArguments(Card::notify, {kMessage}),
       .run = notify},
      {.name = "ask",
       .title = "Ask the user",
       .description =
           "Ask the user a question in the notch and wait for the reply: use it when you need a "
           "decision or a short answer before going on. Offer choices in answers; the user picks "
           "one or types their own. Returns the answer. A user who closes the card without "
           "answering gives \"user dismissed without answering\" ({\"dismissed\": true}): that is "
           "no consent. Waits up to timeout seconds (300 unless given).",
       .hints = kAdds,
       .waitsForPerson = true,
       .arguments = cardArguments(
           Card::ask, {{"message", Kind::text, "the question", true},
                       {"answers", Kind::texts, "proposed answers, offered in this order"}}),
       .outputSchema = Json::parse(R"({"type": "object", "required": ["dismissed"], "properties": {
         "dismissed": {"type": "boolean", "description": "true when the user closed the card without answering"},
         "answer": {"type": "string", "description": "the user's answer; absent when dismissed"}}})"),
       .run = ask},
      {.name = "listen",
       .title = "Wait for the user's message",
       .description =
           "Wait for whatever the user writes next and return it: they open a compose box in the "
           "notch with ⌘⇧K and send a message. Use it to take instructions from a user who is "
           "away from the terminal. A cancelled compose gives \"compose was cancelled — no "
           "message\" ({\"cancelled\": true}). Waits up to timeout seconds (300 unless given).",
       .hints = kAdds,
       .waitsForPerson = true,
       .arguments = {kTimeout},
       .outputSchema = Json::parse(R"({"type": "object", "required": ["cancelled"], "properties": {
         "cancelled": {"type": "boolean", "description": "true when the user cancelled the compose"},
         "message": {"type": "string", "description": "the composed message; absent when cancelled"}}})"),
       .run = listen},
      {.name = "say",
       .title = "Post in the user's name",
       .description =
           "Post a card in the user's own name, as if the user had written it: signed \"You\" in "
           "white unless name and accent say otherwise. Rarely what an agent wants: to tell the "
           "user something, use notify. Returns \"message sent\" at once.",
       .hints = kAdds,
       .arguments = cardArguments(Card::say, {kMessage}),
       .run = say},
      {.name = "game",
       .title = "Play a mini-game",
       .description =
           "Start a mini-game with the user in the notch and wait until it ends; returns the "
           "app's result, such as who won. hangman reads mode and word; tic_tac_toe and snake "
           "ignore them. Waits up to timeout seconds (300 unless given).",
       .hints = kAdds,
       .waitsForPerson = true,
       .arguments = cardArguments(
           Card::game,
           {{"game", Kind::choice, "which game", true,
             std::vector<std::string_view>(kGameTypes.begin(), kGameTypes.end())},
            {"mode",
             Kind::choice,
             "hangman only: who guesses the word, the user (user_guesses) or the agent "
             "(agent_guesses)",
             false,
             {"user_guesses", "agent_guesses"}},
            {"word", Kind::text,
             "hangman only: the secret word. With user_guesses, the word the user has to guess; "
             "with agent_guesses the user thinks of the word, so leave it out"}}),
       .outputSchema = Json::parse(R"({"type": "object", "required": ["result"], "properties": {
         "result": {"type": "string", "description": "the app's result, or its whole answer when it gives none"}}})"),
       .run = game},
      {.name = "characters",
       .title = "List the characters",
       .description =
           "List the characters loaded in the app, with their accent colours and faces: the "
           "values that the chara and face arguments of the card tools take. Gives up when the "
           "app has not answered within 5 seconds.",
       .hints = kReadsOnly,
       .outputSchema = Json::parse(R"({"type": "object", "properties": {
         "characters": {"type": "array", "items": {"type": "object",
           "required": ["name", "accent_hex", "faces"], "properties": {
             "name": {"type": "string"}, "accent_hex": {"type": "string"},
             "faces": {"type": "array", "items": {"type": "string"}}}}},
         "answer": {"type": "string", "description": "the app's answer as it came, when it is not a list of characters"}}})"),
       .run = characters},
      {.name = "health",
       .title = "Check the app",
       .description =
           "Check that the Tarnel app is running, so that someone can see cards and answer; "
           "returns the port and the games the app reports. Gives up when the app has not "
           "answered within 5 seconds.",
       .hints = kReadsOnly,
       .outputSchema = Json::parse(R"({"type": "object", "properties": {
         "port": {"anyOf": [{"type": "integer"}, {"type": "string"}],
           "description": "the port the app reports: an integer, or the app's value as text when it sent no integer"},
         "games": {"anyOf": [{"type": "array", "items": {"type": "string"}}, {"type": "string"}],
           "description": "the games the app reports: their names, or the app's value as JSON text when it sent no list of names"}}})"),
       .run = health},
      {.name = "collapse",
       .title = "Hide the card",
       .description = "Hide the card shown in the notch. Returns \"card collapsed\".",
       .hints = kHides,
       .arguments = {kTimeout},
       .run = collapse},
      {.name = "clear",
       .title = "Clear the app's state",
       .description = "Clear all of the app's state, the card shown included. Use it only when "
                      "the user asks for a clean slate. Returns \"state cleared\".",
       .hints = kDestroys,
       .arguments = {kTimeout},
       .run = clear},
      {.name = "approve",
       .title = "Approve a tool use in the notch",
       .description =
           "For agent hosts that hand each permission decision to an MCP tool, not for agents "
           "themselves (to ask the user something, use ask). Shows \"Allow <tool_name>: <command, "
           "file or first member>\" and every other member of the input in the notch, with the "
           "answers Allow and Deny, and waits. "
           "Returns one text content holding JSON: {\"behavior\": \"allow\", \"updatedInput\": "
           "<input>} when the user picks Allow, else {\"behavior\": \"deny\", \"message\": ...}. "
           "Fails closed: a dismissal, a timeout, the app not running or arguments it cannot read "
           "are a deny.",
       .hints = kAdds,
       .waitsForPerson = true,
       .arguments = {{"tool_name", Kind::text, "the tool the agent wants to run", true},
                     {"input",
                      Kind::object,
                      "that tool's arguments; input or tool_input is required",
                      true,
                      {},
                      "tool_input"},
                     {"tool_use_id", Kind::text, "the host's id of the tool use"},
                     {"timeout", Kind::seconds,
                      "seconds to wait for the user before denying (default: vesk-mcp's "
                      "--approve-timeout, 300 unless set)"}},
       .others = Others::ignored,
       .approval = true},
  };
  return table;
}

Json listed(const Tool& tool, Revision revision) {
  Json entry = {{"name", tool.name},
                {"description", tool.description},
                {"inputSchema", inputSchema(tool.arguments, tool.others)}};
  if (hasTitlesAndStructuredContent(revision)) {
    entry["title"] = tool.title;
    if (!tool.outputSchema.is_null()) entry["outputSchema"] = tool.outputSchema;
  }
  if (hasAnnotations(revision)) {
    Json annotations = {{"readOnlyHint", tool.hints.readOnly},
                        {"destructiveHint", tool.hints.destructive},
                        {"idempotentHint", tool.hints.idempotent},
                        {"openWorldHint", tool.hints.openWorld}};
    if (!hasTitlesAndStructuredContent(revision)) annotations["title"] = tool.title;
    entry["annotations"] = std::move(annotations);
  }
  return entry;
}

}  // namespace

const Tool* findTool(std::string_view name) {
  for (const auto& tool : tools()) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}

bool waitsForPerson(const Tool& tool) {
  return tool.waitsForPerson;
}

const Json& toolList(Revision revision) {
  static const auto lists = [] {
    std::array<Json, 5> byRevision;
    for (auto r : {Revision::r2024_11_05, Revision::r2025_03_26, Revision::r2025_06_18,
                   Revision::r2025_11_25, Revision::r2026_07_28}) {
      Json listing = Json::array();
      for (const auto& tool : tools()) listing.push_back(listed(tool, r));
      byRevision[static_cast<size_t>(r)] = Json{{"tools", std::move(listing)}};
    }
    return byRevision;
  }();
  return lists[static_cast<size_t>(revision)];
}

std::optional<std::string> argumentProblem(const Tool& tool, const Json& arguments) {
  return argumentProblem(tool.arguments, tool.others, arguments);
}

Json toolError(std::string_view message) {
  Json result = textResult(std::string(message));
  result["isError"] = true;
  return result;
}

bool isApproval(const Tool& tool) {
  return tool.approval;
}

Json refusedCall(const Tool& tool, std::string_view message) {
  return tool.approval ? textResult(denial(message)) : toolError(message);
}

Json callTool(const Tool& tool, const Json& arguments, std::string_view rawArguments,
              const Settings& settings, Revision revision, Cancellation& cancellation) {
  setFailureHandler([](std::string_view message) { throw Failure{std::string(message)}; });
  // Hosts give an approval no timeout of its own: the server's option sets how long it waits.
  const double timeout = tool.approval ? settings.approveTimeout : kDefaultTimeoutSeconds;
  try {
    VeskClient client(settings.port, arguments.value("timeout", timeout));
    client.cancellation = &cancellation;
    if (tool.approval) return textResult(approve(client, arguments, rawArguments, settings));
    Outcome outcome = tool.run(client, arguments);
    Json result = textResult(std::move(outcome.text));
    if (!outcome.structured.is_null() && hasTitlesAndStructuredContent(revision)) {
      result["structuredContent"] = std::move(outcome.structured);
    }
    return result;
  } catch (const Failure& failure) {
    return refusedCall(tool, failure.message);
  } catch (const std::exception& e) {
    return refusedCall(tool, std::string("internal error: ") + e.what());
  }
}

}  // namespace vesk::mcp
