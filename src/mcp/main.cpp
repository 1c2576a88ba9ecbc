#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#ifdef __GLIBC__  // known once a C library header is in
#include <malloc.h>
#endif

#include "cli/args.h"
#include "cli/output.h"
#include "mcp/transport.h"

namespace {

constexpr std::string_view kHelp = R"(vesk-mcp — Tarnel's notch cards as tools for coding agents

USAGE:
    vesk-mcp [--port <PORT>]

Serves the Model Context Protocol on standard input and output, for an agent host that
starts it as a tool server. Its tools are vesk's commands: notify, ask, listen, say, game,
characters, health, collapse and clear, each making the request that vesk makes.

OPTIONS:
    --port <PORT>    the app's API port (default: 47037)
    --help           print this help
    --version        print the version)";

constexpr std::string_view kUsage = "Usage: vesk-mcp [--port <PORT>]";

}  // namespace

int main(int argc, char** argv) {
  // A host that goes away must not end the process by a signal: end of input ends it.
  std::signal(SIGPIPE, SIG_IGN);
#ifdef __GLIBC__
  // Each call's threads would otherwise map a malloc arena of their own.
  mallopt(M_ARENA_MAX, 1);
#endif
  // vesk's option syntax and port rule; "serve" stands where vesk's parser expects a command.
  std::vector<std::string_view> words = {argv[0], "serve"};
  words.insert(words.end(), argv + 1, argv + argc);
  const vesk::Args args(words);
  if (!args.positional.empty()) {
    vesk::die("unexpected word '" + std::string(args.positional.front()) + "'\n\n" +
              std::string(kUsage));
  }
  for (const auto& [name, value] : args.flags) {
    if (name != "port" && name != "p" && name != "help" && name != "h" && name != "version" &&
        name != "v") {
      vesk::die("unknown option '" + std::string(name.size() == 1 ? "-" : "--") + name + "'\n\n" +
                std::string(kUsage));
    }
  }
  if (args.flag("help") || args.flag("h")) {
    vesk::out(kHelp);
    return 0;
  }
  if (args.flag("version") || args.flag("v")) {
    vesk::out("vesk-mcp " VESK_VERSION);
    return 0;
  }
  return vesk::mcp::serve(args.port());
}
