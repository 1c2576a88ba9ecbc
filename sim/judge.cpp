#include "judge.h"

#include <algorithm>
#include <array>
#include <string>

#include "nesting.h"

namespace sim {
namespace {

using nlohmann::json;

struct Endpoint {
  std::string_view path;
  std::string_view method;
  std::optional<Held> held;
};

constexpr Endpoint kEndpoints[] = {
    {"/health", "GET", std::nullopt},    {"/characters", "GET", std::nullopt},
    {"/listen", "GET", Held::listen},    {"/overlay", "POST", std::nullopt},
    {"/chat", "POST", Held::chat},       {"/game", "POST", Held::game},
    {"/collapse", "POST", std::nullopt}, {"/clear", "POST", std::nullopt},
};

constexpr std::array<std::string_view, 3> kGames = {"tic_tac_toe", "snake", "hangman"};
constexpr std::array<std::string_view, 2> kHangmanModes = {"user_guesses", "agent_guesses"};
constexpr std::array<std::string_view, 8> kPresentationKeys = {
    "name", "name_color", "accent_hex", "title", "image_url", "image_base64", "character", "face"};

Verdict answered(Reply reply) {
  return {std::move(reply), std::nullopt, nullptr, {}};
}

Verdict refused(std::string why) {
  return {errorReply(400, why), std::nullopt, nullptr, std::move(why)};
}

// What the reader says, without the "[json.exception.out_of_range.406] " it starts with.
std::string readerSays(const json::exception& e) {
  const std::string_view what = e.what();
  const size_t bracket = what.find("] ");
  return std::string(bracket == std::string_view::npos ? what : what.substr(bracket + 2));
}

// Why the body cannot be parsed as an object, or nothing when it can (then it is in `parsed`).
std::optional<std::string> parseObject(std::string_view text, json& parsed) {
  if (text.empty()) return "request body is empty: send a JSON object";
  // The reader takes a NUL for the end of its input, and would judge only what comes before it.
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return "request body is not valid JSON: byte " + std::to_string(nul + 1) + " is NUL";
  }
  if (nestsDeeperThan(text)) {
    return "request body nests deeper than " + std::to_string(kMaxNesting) + " levels";
  }
  try {
    parsed = json::parse(text);
  } catch (const json::parse_error& e) {
    return "request body is not valid JSON: " + readerSays(e);
  } catch (const json::exception& e) {  // a number too large for a double, say
    return "request body cannot be read: " + readerSays(e);
  }
  if (!parsed.is_object()) {
    return std::string("request body must be a JSON object, not ") + parsed.type_name();
  }
  return std::nullopt;
}

std::optional<std::string> notText(const json& body, std::string_view key) {
  auto member = body.find(key);
  if (member == body.end() || member->is_string()) return std::nullopt;
  return "\"" + std::string(key) + "\" must be a text, not " + member->type_name();
}

template <size_t N>
bool oneOf(const std::array<std::string_view, N>& words, const std::string& value) {
  return std::find(words.begin(), words.end(), value) != words.end();
}

std::optional<std::string> problemWithCard(const json& body, bool question) {
  if (!body.contains("message")) return std::string("\"message\" is missing");
  if (auto problem = notText(body, "message")) return problem;
  for (auto key : kPresentationKeys) {
    if (auto problem = notText(body, key)) return problem;
  }
  if (!question) return std::nullopt;
  auto proposed = body.find("proposed_answers");
  if (proposed == body.end()) return std::nullopt;
  bool texts = proposed->is_array() && std::all_of(proposed->begin(), proposed->end(),
                                                   [](auto& a) { return a.is_string(); });
  if (!texts) return std::string("\"proposed_answers\" must be a list of texts");
  return std::nullopt;
}

std::optional<std::string> problemWithGame(const json& body) {
  auto game = body.find("game");
  if (game == body.end() || !game->is_string()) {
    return std::string("\"game\" must name a game: tic_tac_toe, snake or hangman");
  }
  if (!oneOf(kGames, game->get<std::string>())) {
    return "unknown game '" + game->get<std::string>() + "': tic_tac_toe, snake or hangman";
  }
  for (auto key : {"accent_hex", "character", "face", "hangman_mode", "hangman_word"}) {
    if (auto problem = notText(body, key)) return problem;
  }
  auto mode = body.find("hangman_mode");
  if (mode != body.end() && !oneOf(kHangmanModes, mode->get<std::string>())) {
    return "unknown hangman_mode '" + mode->get<std::string>() + "': user_guesses or agent_guesses";
  }
  return std::nullopt;
}

std::optional<std::string> problemWith(std::string_view path, const json& body) {
  if (path == "/overlay") return problemWithCard(body, false);
  if (path == "/chat") return problemWithCard(body, true);
  if (path == "/game") return problemWithGame(body);
  return std::nullopt;  // /collapse and /clear take any object; vesk sends {}
}

Reply factsReply(std::string_view path, const AppFacts& app) {
  if (path == "/characters") return Reply(200, dumpJson(toJson(*app.catalogue)));
  json health = {{"status", "ok"},
                 {"app", "tarnel-sim"},
                 {"version", TARNEL_SIM_VERSION},
                 {"port", app.port},
                 {"games", kGames}};
  return Reply(200, dumpJson(health));
}

}  // namespace

std::string_view pathOf(std::string_view target) {
  return target.substr(0, target.find('?'));
}

Verdict judge(std::string_view method, std::string_view path, std::string_view body,
              const AppFacts& app) {
  auto endpoint = std::find_if(std::begin(kEndpoints), std::end(kEndpoints),
                               [&](const Endpoint& e) { return e.path == path; });
  if (endpoint == std::end(kEndpoints)) {
    return answered(errorReply(404, "no such endpoint: " + std::string(path)));
  }
  if (method != endpoint->method) {
    Reply reply = errorReply(405, std::string(path) + " takes " + std::string(endpoint->method) +
                                      ", not " + std::string(method));
    reply.allow = endpoint->method;
    return answered(reply);
  }
  // A GET's body, if a client sent one anyway, means nothing to the app.
  if (method == "GET") {
    if (endpoint->held) return {{}, endpoint->held, nullptr, {}};
    return answered(factsReply(path, app));
  }
  json parsed;
  auto problem = parseObject(body, parsed);
  if (!problem) problem = problemWith(path, parsed);
  if (problem) return refused(std::move(*problem));
  if (endpoint->held) return {{}, endpoint->held, std::move(parsed), {}};
  return {Reply(200, R"({"status":"ok"})"), std::nullopt, std::move(parsed), {}};
}

}  // namespace sim
