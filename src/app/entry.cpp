#include "app/entry.h"

#include <cstdio>

#include "cli/args.h"
#include "cli/help.h"
#include "cli/output.h"
#include "client/vesk_client.h"
#include "commands/commands.h"

namespace vesk {
namespace {

using Command = void (*)(const VeskClient&, const Args&);

struct CommandWord {
  const char* word;
  Command command;
};

// Command words and their aliases, after lower-casing; no prefix matching.
constexpr CommandWord kCommands[] = {
    {"notify", cmdNotify},
    {"n", cmdNotify},
    {"ask", cmdAsk},
    {"a", cmdAsk},
    {"listen", cmdListen},
    {"l", cmdListen},
    {"say", cmdSay},
    {"s", cmdSay},
    {"game", cmdGame},
    {"g", cmdGame},
    {"health", cmdHealth},
    {"ping", cmdHealth},
    {"collapse", cmdCollapse},
    {"clear", cmdClear},
    {"characters", cmdCharacters},
    {"chars", cmdCharacters},
    {"c", cmdCharacters},
};

}  // namespace

int run(std::span<const std::string_view> argv) {
  const Args args(argv);
  // Both are checked for every command, help and version included, the port first.
  const int port = args.port();
  const double timeout = args.timeout();
  const VeskClient client(port, timeout);

  const std::string& word = args.command;
  if (word == "help" || word == "--help" || word == "-h") {
    cmdHelp();
    return 0;
  }
  if (word == "version" || word == "--version" || word == "-v") {
    out(kVersionLine);
    return 0;
  }
  for (const auto& entry : kCommands) {
    if (word == entry.word) {
      entry.command(client, args);
      return 0;
    }
  }
  // The one failure that is not an "error:" line: plain, uncoloured, and the help follows.
  std::string line = "unknown command: " + word + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  cmdHelp();
  return 1;
}

}  // namespace vesk
