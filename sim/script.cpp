#include "script.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace sim {
namespace {

std::optional<size_t> parsePick(std::string_view text) {
  size_t n = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n == 0) return std::nullopt;
  return n;
}

bool takes(Held held, Step::Act act) {
  using Act = Step::Act;
  switch (held) {
    case Held::chat:
      return act == Act::answer || act == Act::pick || act == Act::dismiss || act == Act::timeout;
    case Held::listen:
      return act == Act::message || act == Act::cancel || act == Act::timeout;
    case Held::game:
      return act == Act::result || act == Act::timeout;
  }
  return false;
}

struct ActWord {
  std::string_view word;
  Step::Act act;
  bool hasText;  // "word:TEXT" (TEXT may be empty and may hold colons)
};

constexpr ActWord kActWords[] = {
    {"answer", Step::Act::answer, true},    {"pick", Step::Act::pick, true},
    {"dismiss", Step::Act::dismiss, false}, {"message", Step::Act::message, true},
    {"cancel", Step::Act::cancel, false},   {"result", Step::Act::result, true},
    {"timeout", Step::Act::timeout, false},
};

std::string proposedAnswer(const nlohmann::json& request, size_t pick) {
  auto proposed = request.find("proposed_answers");
  if (proposed == request.end() || pick > proposed->size()) return "";
  return (*proposed)[pick - 1].get<std::string>();
}

}  // namespace

std::optional<double> parseSeconds(std::string_view text) {
  // strtod rather than from_chars, which not every macOS C++ library has for doubles. The
  // program never calls setlocale, so "0.5" is read in the C locale.
  const std::string copy(text);
  if (copy.empty() || std::isspace(static_cast<unsigned char>(copy.front()))) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(seconds) || seconds < 0) {
    return std::nullopt;
  }
  return seconds;
}

std::optional<Step> parseStep(Held held, std::string_view word) {
  size_t colon = word.find(':');
  std::string_view head = word.substr(0, colon);
  std::optional<std::string_view> rest;
  if (colon != std::string_view::npos) rest = word.substr(colon + 1);
  for (const auto& candidate : kActWords) {
    if (head != candidate.word || !takes(held, candidate.act)) continue;
    Step step(candidate.act);
    if (candidate.act == Step::Act::timeout) {
      if (!rest) return step;
      auto seconds = parseSeconds(*rest);
      if (!seconds) return std::nullopt;
      step.seconds = *seconds;
      return step;
    }
    if (candidate.hasText != rest.has_value()) return std::nullopt;
    if (candidate.act == Step::Act::pick) {
      auto pick = parsePick(*rest);
      if (!pick) return std::nullopt;
      step.pick = *pick;
    } else if (rest) {
      step.text = std::string(*rest);
    }
    return step;
  }
  return std::nullopt;
}

std::string_view stepForms(Held held) {
  switch (held) {
    case Held::chat:
      return "answer:TEXT, pick:N, dismiss, timeout[:SECS]";
    case Held::listen:
      return "message:TEXT, cancel, timeout[:SECS]";
    case Held::game:
      return "result:TEXT, timeout[:SECS]";
  }
  return "";
}

Step defaultStep(Held held, const nlohmann::json& request) {
  switch (held) {
    case Held::chat:
      if (request.contains("proposed_answers")) return Step(Step::Act::pick, "", 1);
      return Step(Step::Act::answer, "ok");
    case Held::listen:
      return Step(Step::Act::message, "hello from tarnel-sim");
    case Held::game:
      return Step(Step::Act::result, "user won");
  }
  return Step();
}

Reply replyFor(Held held, const Step& step, const nlohmann::json& request) {
  using Act = Step::Act;
  nlohmann::json body;
  switch (step.act) {
    case Act::answer:
      body = {{"answer", step.text}};
      break;
    case Act::pick: {
      std::string answer = proposedAnswer(request, step.pick);
      body =
          answer.empty() ? nlohmann::json{{"dismissed", true}} : nlohmann::json{{"answer", answer}};
      break;
    }
    case Act::dismiss:
      body = {{"dismissed", true}};
      break;
    case Act::message:
      body = {{"message", step.text}};
      break;
    case Act::cancel:
      body = {{"cancelled", true}};
      break;
    case Act::result:
      body = {{"game", request.value("game", "")}, {"result", step.text}};
      break;
    case Act::timeout:
      switch (held) {
        case Held::chat:
          return errorReply(408, "the user did not answer in time");
        case Held::listen:
          return errorReply(408, "no message was composed in time");
        case Held::game:
          return errorReply(408, "the game timed out");
      }
  }
  return Reply(200, dumpJson(body));
}

std::optional<Step> Script::next(Held held) {
  std::deque<Step>& queue = held == Held::chat ? chat : held == Held::listen ? listen : game;
  if (queue.empty()) return std::nullopt;
  Step step = queue.front();
  queue.pop_front();
  return step;
}

}  // namespace sim
