#include <csignal>
#include <string_view>
#include <vector>

#include "app/entry.h"

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe, a server that hangs up) must never end the process
  // by a signal: the write fails with EPIPE instead, and the exit status stays 0 or 1.
  std::signal(SIGPIPE, SIG_IGN);
  // Views, not copies: a card's image may be a megabyte of the command line.
  const std::vector<std::string_view> words(argv, argv + argc);
  return vesk::run(words);
}
