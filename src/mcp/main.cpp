#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#ifdef __GLIBC__  // known once a C library header is in
#include <malloc.h>
#endif

#include "cli/args.h"
#include "cli/output.h"
#include "mcp/approve.h"
#include "mcp/hook.h"
#include "mcp/transport.h"

namespace {

constexpr std::string_view kHelp = R"(vesk-mcp — Tarnel's notch cards as tools for coding agents

USAGE:
    vesk-mcp [--port <PORT>] [--approve-timeout <SECS>] [--approve-whole] [--agent <NAME>]
             [--progress-interval <SECS>]
    vesk-mcp --hook [--port <PORT>] [--approve-timeout <SECS>] [--approve-whole] [--agent <NAME>]

Serves the Model Context Protocol on standard input and output, for an agent host that
starts it as a tool server. Its tools are vesk's commands: notify, ask, listen, say, game,
characters, health, collapse and clear, each making the request that vesk makes, and
approve, which asks the user in the notch for an agent host's permission decisions.

With --hook it is instead an agent host's PermissionRequest hook, for interactive sessions:
it reads the request on standard input, asks on the same card as approve, and prints the
host's decision for Allow and Deny. A dismissal, no app or a time-out print nothing, and the
host's own dialog asks. It always exits 0, or 1 when the decision cannot be written.

An approval card shows every member of the tool's input, each character visible: controls,
format and invisible characters and spaces other than U+0020 are written \u{202E}, a run of
them or of more than 8 spaces once with its count (\u{200B}×195). A value longer than 500
characters shows its beginning and end around "… N characters not shown …"; the question
holds at most 2000 characters. The card's title names the agent's project folder.

OPTIONS:
    --port <PORT>                the app's API port (default: 47037)
    --approve-timeout <SECS>     how long an approval waits for the user when the call gives no
                                 timeout (default: 300)
    --approve-whole              refuse, without asking, an approval whose card cannot show
                                 the whole input
    --agent <NAME>               who asks, on approval cards (default: the name of the
                                 folder vesk-mcp runs in, or for --hook the session's)
    --progress-interval <SECS>   how often a call that waits for the user reports progress to
                                 a host that asked for it (default: 10, at least 0.1)
    --hook                       be a PermissionRequest hook, as above
    --help                       print this help
    --version                    print the version)";

constexpr std::string_view kUsage =
    "Usage: vesk-mcp [--hook] [--port <PORT>] [--approve-timeout <SECS>] [--approve-whole]\n"
    "                [--agent <NAME>] [--progress-interval <SECS>]";

// A number of seconds, read as vesk reads --timeout, and at least `least`.
double seconds(const vesk::Args& args, const char* option, double fallback, double least = 0) {
  auto value = args.flag(option);
  if (!value) return fallback;
  auto parsed = vesk::parseTimeout(std::string(*value));
  if (!parsed || *parsed < least) {
    vesk::die("invalid --" + std::string(option) + ": " + std::string(*value));
  }
  return *parsed;
}

// Whether an option that takes no value was given; a value after it is a mistake.
bool given(const vesk::Args& args, const char* option) {
  auto value = args.flag(option);
  if (value && *value != "true") {
    vesk::die("--" + std::string(option) + " takes no value: " + std::string(*value));
  }
  return value.has_value();
}

// Progress more often than this would only flood the host.
constexpr double kShortestProgressInterval = 0.1;

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
    if (name != "port" && name != "p" && name != "approve-timeout" && name != "approve-whole" &&
        name != "agent" && name != "hook" && name != "progress-interval" && name != "help" &&
        name != "h" && name != "version" && name != "v") {
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
  vesk::mcp::Settings settings;
  settings.port = args.port();
  settings.approveTimeout = seconds(args, "approve-timeout", settings.approveTimeout);
  settings.progressInterval =
      seconds(args, "progress-interval", settings.progressInterval, kShortestProgressInterval);
  settings.approveWhole = given(args, "approve-whole");
  settings.agent = std::string(args.flag("agent").value_or(""));
  if (given(args, "hook")) return vesk::mcp::runPermissionHook(settings);
  if (settings.agent.empty()) settings.agent = vesk::mcp::folderName(vesk::mcp::currentFolder());
  return vesk::mcp::serve(settings);
}
