#include "console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

namespace sim {
namespace {

std::string clockNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string trimmed(const std::string& line) {
  size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  size_t last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

// What a line typed by the person means for the question it answers; nothing when it picks a
// proposed answer that is not there, which is asked again rather than sent as text.
std::optional<Reply> replyToLine(Held held, const std::string& line, const nlohmann::json& body) {
  const std::string typed = trimmed(line);
  switch (held) {
    case Held::chat: {
      if (typed.empty()) return replyFor(held, Step(Step::Act::dismiss), body);
      size_t choice = 0;
      auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), choice);
      auto proposed = body.find("proposed_answers");
      bool isNumber = error == std::errc() && end == typed.data() + typed.size();
      if (!isNumber || proposed == body.end()) {
        return replyFor(held, Step(Step::Act::answer, typed), body);
      }
      if (choice < 1 || choice > proposed->size()) return std::nullopt;
      return replyFor(held, Step(Step::Act::pick, "", choice), body);
    }
    case Held::listen:
      if (typed.empty()) return replyFor(held, Step(Step::Act::cancel), body);
      return replyFor(held, Step(Step::Act::message, typed), body);
    case Held::game:
      return replyFor(held, Step(Step::Act::result, typed.empty() ? "user won" : typed), body);
  }
  return {};
}

bool showsCard(const Plan& plan) {
  return plan.accepted && (plan.path == "/overlay" || plan.path == "/chat" || plan.path == "/game");
}

}  // namespace

Console::Console(const Catalogue& catalogue, Post post)
    : catalogue_(catalogue), post_(std::move(post)), style_(terminalStyle()) {}

Console::~Console() {
  stop();
}

void Console::start(unsigned short port) {
  print(renderNote("tarnel-sim is waiting for vesk on port " + std::to_string(port) +
                       " — cards appear here; Ctrl-C quits",
                   style_));
  reader_ = std::thread([this] { readInput(); });
}

void Console::stop() {
  stopping_ = true;
  if (reader_.joinable()) reader_.join();
}

void Console::readInput() {
  std::string pending;
  char chunk[4096];
  while (!stopping_) {
    // A bounded wait, so that stop() is noticed without closing anyone's standard input.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    int ready = ::poll(&input, 1, 200);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    pending.append(chunk, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      post_([this, line = pending.substr(0, end)] { onLine(line); });
    }
  }
  if (!stopping_) post_([this] { onEndOfInput(); });
}

void Console::show(const Plan& plan) {
  std::string clock = clockNow();
  if (!showsCard(plan)) {
    std::string line = renderEvent(clock, plan.method, plan.path, style_);
    if (plan.reply.status != 200 && !plan.askPerson) {
      line.pop_back();
      line += renderNote(" → " + std::to_string(plan.reply.status) + " " + plan.reply.body, style_);
    }
    print(line);
  } else {
    print(renderCard(clock, plan.path, plan.body, catalogue_, style_));
  }
  // The person is still being asked something: show that card again under the new one.
  if (!waiting_.empty() && !plan.askPerson) promptFront(true);
}

std::uint64_t Console::ask(Held held, const nlohmann::json& body, Answer answer) {
  if (!inputOpen_) {
    answer(replyFor(held, defaultStep(held, body), body));
    return 0;
  }
  std::uint64_t ticket = nextTicket_++;
  std::string card = held == Held::listen
                         ? renderEvent(clockNow(), "GET", "/listen", style_)
                         : renderCard(clockNow(), held == Held::chat ? "/chat" : "/game", body,
                                      catalogue_, style_);
  waiting_.push_back({ticket, held, body, std::move(answer), std::move(card)});
  if (waiting_.size() == 1) {
    promptFront(false);
  } else {
    print(renderNote("(waits behind " + std::to_string(waiting_.size() - 1) + " other)", style_));
    promptFront(true);  // the prompt answers the card above it, not the one that just came
  }
  return ticket;
}

void Console::withdraw(std::uint64_t ticket) {
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if (it->ticket != ticket) continue;
    bool wasFront = it == waiting_.begin();
    waiting_.erase(it);
    if (!wasFront) return;
    print("\n");
    print(renderNote("vesk stopped waiting: that question is withdrawn", style_));
    if (!waiting_.empty()) promptFront(true);
    return;
  }
}

void Console::onLine(const std::string& line) {
  atPrompt_ = false;  // the person's Enter ended the prompt's line
  if (waiting_.empty()) {
    return print(renderNote("nothing is waiting for an answer", style_));
  }
  const Question& front = waiting_.front();
  auto reply = replyToLine(front.held, line, front.body);
  if (!reply) {
    const size_t count = front.body["proposed_answers"].size();
    print(renderNote("there is no answer " + trimmed(line) + ": type 1 to " +
                         std::to_string(count) + ", or words of your own",
                     style_));
    return promptFront(false);
  }
  settleFront(std::move(*reply));
}

void Console::onEndOfInput() {
  inputOpen_ = false;
  print("\n");
  print(renderNote("standard input closed: questions get the default answers from now on", style_));
  while (!waiting_.empty()) {
    const Question& front = waiting_.front();
    settleFront(replyFor(front.held, defaultStep(front.held, front.body), front.body));
  }
}

void Console::settleFront(Reply reply) {
  Question question = std::move(waiting_.front());
  waiting_.pop_front();
  print(renderNote("→ " + std::to_string(reply.status) + " " + reply.body, style_));
  question.answer(std::move(reply));
  if (!waiting_.empty()) promptFront(true);
}

void Console::promptFront(bool showCardAgain) {
  if (!inputOpen_) return;
  const Question& front = waiting_.front();
  print((showCardAgain ? front.card : "") + renderPrompt(front.held, waiting_.size() - 1, style_));
  atPrompt_ = true;
}

void Console::print(const std::string& text) {
  if (atPrompt_) std::fputc('\n', stdout);
  atPrompt_ = false;
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace sim
