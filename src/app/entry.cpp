#include "app/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/args.h"
#include "cli/help.h"
#include "cli/output.h"
#include "cli/standard_descriptors.h"
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

Command commandFor(const std::string& word) {
  for (const auto& entry : kCommands) {
    if (word == entry.word) return entry.command;
  }
  return nullptr;
}

[[noreturn]] void cannotWriteOutput(int error) {
  die("cannot write to standard output: " + std::string(std::strerror(error)));
}

// A run whose result did not reach standard output failed, whatever it did before: the user's
// answer, taken from the app, is lost. A reader that went away (`vesk characters | head -1`)
// wanted no more, so that failure is told by the status alone.
int finish(int status) {
  const int error = flushOutput();
  if (error == 0) return status;
  if (error != EPIPE) cannotWriteOutput(error);
  return 1;
}

}  // namespace

int run(std::span<const std::string_view> argv) {
  const bool outputWritable = reserveStandardDescriptors();
  const Args args(argv);
  // Both are checked for every command, help and version included, the port first.
  const int port = args.port();
  const double timeout = args.timeout();
  const VeskClient client(port, timeout);
  // Before any request: a question whose answer could not be delivered is never put to the user.
  if (!outputWritable) cannotWriteOutput(EBADF);

  const std::string& word = args.command;
  const bool helpWord = word == "help" || word == "--help" || word == "-h";
  const bool versionWord = word == "version" || word == "--version" || word == "-v";
  const Command command = helpWord || versionWord ? nullptr : commandFor(word);
  if (!helpWord && !versionWord && !command) {
    // The one failure that is not an "error:" line: plain, uncoloured, and the help follows.
    std::string line = "unknown command: " + word + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    cmdHelp();
    return finish(1);
  }
  // `vesk clear --help` must never clear: a request for help after any command word is one, and
  // comes before the command's own checks. A "-h" that is another option's value is not.
  if (helpWord || args.flags.contains("help") || args.flags.contains("h")) {
    cmdHelp();
  } else if (versionWord) {
    out(kVersionLine);
  } else {
    command(client, args);
  }
  return finish(0);
}

}  // namespace vesk
