#include "app.h"

#include "judge.h"

namespace sim {

std::string connectionsRefusal(size_t limit) {
  return "tarnel-sim already holds " + std::to_string(limit) +
         " connections, its limit: try again once some are answered";
}

App::App(const Options& options, Catalogue catalogue)
    : options_(options),
      script_(options.script),
      catalogue_(std::move(catalogue)),
      recorder_(options.record) {}

Plan App::receive(std::string_view method, std::string_view target, std::string_view body) {
  Plan plan = judged(method, target, body);
  recorder_.record(method, target, body, plan.refusal);
  return plan;
}

Plan App::judged(std::string_view method, std::string_view target, std::string_view body) {
  Plan plan;
  plan.method = std::string(method);
  plan.path = std::string(pathOf(target));
  if (auto delay = options_.delays.find(plan.path); delay != options_.delays.end()) {
    plan.wait = std::chrono::duration<double>(delay->second);
  }
  if (auto forced = options_.forced.find(plan.path); forced != options_.forced.end()) {
    plan.reply = forced->second;
    return plan;
  }

  Verdict verdict = judge(method, plan.path, body, AppFacts{port_, &catalogue_});
  plan.accepted = verdict.accepted();
  plan.body = std::move(verdict.body);
  plan.refusal = std::move(verdict.refusal);
  if (!verdict.held) {
    plan.reply = std::move(verdict.reply);
    return plan;
  }
  const Held held = *verdict.held;
  std::optional<Step> step = script_.next(held);
  if (!step && options_.interactive) {
    plan.askPerson = held;
    return plan;
  }
  if (!step) step = defaultStep(held, plan.body);
  if (step->act == Step::Act::timeout) plan.wait += std::chrono::duration<double>(step->seconds);
  plan.reply = replyFor(held, *step, plan.body);
  return plan;
}

Plan App::refuse(std::string_view method, std::string_view target, std::string_view body,
                 size_t limit) {
  Plan plan;
  plan.method = std::string(method);
  plan.path = std::string(pathOf(target));
  plan.refusal = connectionsRefusal(limit);
  plan.reply = errorReply(503, plan.refusal);
  recorder_.record(method, target, body, plan.refusal);
  return plan;
}

}  // namespace sim
