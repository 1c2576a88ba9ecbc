#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "reply.h"

// The scripted answers to the requests the app holds open: what the user "does" with each
// question, compose request and game, in the order they come.
namespace sim {

// The three requests that wait for the user.
enum class Held { chat, listen, game };

struct Step {
  enum class Act { answer, pick, dismiss, message, cancel, result, timeout };
  Step() = default;
  explicit Step(Act act, std::string text = "", size_t pick = 0, double seconds = 0)
      : act(act), text(std::move(text)), pick(pick), seconds(seconds) {}

  Act act = Act::answer;
  std::string text;    // answer:, message:, result:
  size_t pick = 0;     // pick:N, counted from 1
  double seconds = 0;  // timeout:SECS, how long the user "lets it run" before the 408
};

// A number of seconds: finite, not negative, nothing around it.
std::optional<double> parseSeconds(std::string_view text);

// One --chat, --listen or --game word; nothing when it is not one `held` takes.
std::optional<Step> parseStep(Held held, std::string_view word);
// The words `held` takes, for messages and the help.
std::string_view stepForms(Held held);

// What the user does when the script has nothing more to say: answer at once with a plausible
// value (the first proposed answer, else "ok"), so a bare sim never keeps vesk waiting.
Step defaultStep(Held held, const nlohmann::json& request);

// The answer a step gives to a request with this (already judged) body. A pick past the
// proposed answers is a dismissal, as when the user closes a card with no such choice.
Reply replyFor(Held held, const Step& step, const nlohmann::json& request);

// The queues given on the command line, consumed one step per request.
struct Script {
  std::deque<Step> chat, listen, game;

  std::optional<Step> next(Held held);
};

}  // namespace sim
