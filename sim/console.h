#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "app.h"
#include "card.h"

// The person at the sim's terminal, in --interactive mode: sees each card as it arrives and
// answers the questions, compose requests and games one at a time, oldest first.
namespace sim {

class Console {
 public:
  using Post = std::function<void(std::function<void()>)>;  // runs work on the server's thread
  using Answer = std::function<void(Reply)>;

  // Everything but the reading thread happens on the server's thread, through `post`.
  Console(const Catalogue& catalogue, Post post);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void start(unsigned short port);  // prints the greeting and starts reading standard input
  void stop();                      // stops reading; returns within a fraction of a second

  void show(const Plan& plan);
  // `answer` is called once, unless the question is withdrawn first. Returns its ticket.
  std::uint64_t ask(Held held, const nlohmann::json& body, Answer answer);
  void withdraw(std::uint64_t ticket);

 private:
  struct Question {
    std::uint64_t ticket;
    Held held;
    nlohmann::json body;
    Answer answer;
    std::string card;  // shown again when the question comes to the front
  };

  void readInput();  // the reading thread
  void onLine(const std::string& line);
  void onEndOfInput();
  void settleFront(Reply reply);
  void promptFront(bool showCardAgain);
  void print(const std::string& text);  // on a line of its own, even after a prompt

  const Catalogue& catalogue_;
  Post post_;
  Style style_;
  std::deque<Question> waiting_;
  std::uint64_t nextTicket_ = 1;
  bool inputOpen_ = true;
  bool atPrompt_ = false;  // the cursor sits after "> ", waiting for the person
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

}  // namespace sim
