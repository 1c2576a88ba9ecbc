#include <csignal>
#include <string>
#include <vector>

#include "cli/entry.h"

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe, a server that hangs up) must never end the process
  // by a signal: writes then fail quietly and the exit status stays 0 or 1.
  std::signal(SIGPIPE, SIG_IGN);
  return vesk::run(std::vector<std::string>(argv, argv + argc));
}
