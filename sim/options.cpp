#include "options.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "diagnostics.h"

namespace sim {
namespace {

constexpr std::string_view kHelp =
    R"(tarnel-sim — a stand-in for the Tarnel app, serving its loopback API so that vesk
can be run, shown and tested on any machine

USAGE:
    tarnel-sim [options]

Serves /health, /characters, /overlay, /chat, /listen, /game, /collapse and /clear on
127.0.0.1. Without a script, every question is answered at once: /chat with the first
proposed answer (or "ok"), /listen with "hello from tarnel-sim", /game with "user won".

OPTIONS:
    -p, --port N          listen on port N (default 47037; 0 picks a free port)
        --port-file FILE  write the port to FILE once listening
        --chat ANSWER     how the next /chat is answered; repeat to queue answers:
                          answer:TEXT, pick:N, dismiss, timeout[:SECS]
        --listen ANSWER   how the next /listen is answered; repeat to queue answers:
                          message:TEXT, cancel, timeout[:SECS]
        --game ANSWER     how the next /game ends; repeat to queue answers:
                          result:TEXT, timeout[:SECS]
        --delay PATH=SECS wait SECS before answering each request on PATH
        --force PATH=STATUS[:BODY]
                          answer every request on PATH with STATUS (200-599) and BODY
        --characters FILE serve the characters in FILE, a JSON array of
                          {"name", "accent_hex", "faces"}, instead of the built-in ones
        --record FILE     write every request received to FILE as one JSON line
                          (time, method, path, body, and why it was refused, if it
                          was); "-" is standard output
    -i, --interactive     show each card on this terminal and answer questions from it:
                          a number picks a proposed answer, other text is typed, and an
                          empty line dismisses a question or cancels a compose
        --max-requests N  stop by itself once N requests have been answered
        --max-connections N
                          hold at most N connections at once (default 4096, fewer if
                          the system allows fewer open files); a request beyond them
                          is answered 503 at once, and the record notes the refusal
    -q, --quiet           no line on standard error for each request answered
    -h, --help            print this help
    -v, --version         print the version

A timeout waits SECS (default 0) and answers 408. Once a queue is empty, the next
questions get the defaults above, or go to the person with --interactive: there a
number picks a proposed answer, and a number with no answer of its own is asked again.
SIGINT, SIGTERM and SIGHUP stop the sim cleanly, with exit status 0; it removes its
--port-file on the way out.

EXAMPLES:
    tarnel-sim --interactive
    tarnel-sim --port 0 --port-file sim.port --record sim.jsonl \
               --chat pick:2 --chat dismiss --listen message:hi --game result:lost
    tarnel-sim --force /health=503 --delay /overlay=2 --max-requests 3
)";

enum class Takes { nothing, value };

struct OptionName {
  std::string_view longName;
  std::string_view shortName;
  Takes takes;
};

constexpr OptionName kOptions[] = {
    {"--port", "-p", Takes::value},       {"--port-file", "", Takes::value},
    {"--chat", "", Takes::value},         {"--listen", "", Takes::value},
    {"--game", "", Takes::value},         {"--delay", "", Takes::value},
    {"--force", "", Takes::value},        {"--characters", "", Takes::value},
    {"--record", "", Takes::value},       {"--interactive", "-i", Takes::nothing},
    {"--max-requests", "", Takes::value}, {"--max-connections", "", Takes::value},
    {"--quiet", "-q", Takes::nothing},    {"--help", "-h", Takes::nothing},
    {"--version", "-v", Takes::nothing},
};

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
  Number n{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// "PATH=REST": a path that starts with '/', and what follows the first '='.
std::pair<std::string, std::string> pathAndRest(std::string_view option, std::string_view value,
                                                std::string_view form) {
  size_t equals = value.find('=');
  if (equals == std::string_view::npos || !value.starts_with('/')) {
    fail(std::string(option) + ": expected " + std::string(form) + ", got '" + std::string(value) +
         "'");
  }
  return {std::string(value.substr(0, equals)), std::string(value.substr(equals + 1))};
}

Reply forcedReply(std::string_view value) {
  auto [path, rest] = pathAndRest("--force", value, "PATH=STATUS[:BODY]");
  size_t colon = rest.find(':');
  auto status = wholeNumber<int>(std::string_view(rest).substr(0, colon));
  if (!status || *status < 200 || *status > 599) {
    fail("--force: the status must be a number from 200 to 599, got '" + rest + "'");
  }
  if (colon != std::string::npos) return Reply(*status, rest.substr(colon + 1));
  return *status < 300 ? Reply(*status, "{}") : errorReply(*status, "forced by --force");
}

void addStep(Options& options, Held held, std::string_view option, std::string_view value) {
  auto step = parseStep(held, value);
  if (!step) {
    fail(std::string(option) + ": unknown answer '" + std::string(value) + "' (" +
         std::string(stepForms(held)) + ")");
  }
  std::deque<Step>& queue = held == Held::chat     ? options.script.chat
                            : held == Held::listen ? options.script.listen
                                                   : options.script.game;
  queue.push_back(*step);
}

void apply(Options& options, std::string_view name, std::string_view value) {
  if (name == "--port") {
    auto port = wholeNumber<unsigned>(value);
    if (!port || *port > 65535) fail("--port: invalid port '" + std::string(value) + "' (0-65535)");
    options.port = static_cast<unsigned short>(*port);
  } else if (name == "--port-file") {
    options.portFile = std::string(value);
  } else if (name == "--chat") {
    addStep(options, Held::chat, name, value);
  } else if (name == "--listen") {
    addStep(options, Held::listen, name, value);
  } else if (name == "--game") {
    addStep(options, Held::game, name, value);
  } else if (name == "--delay") {
    auto [path, rest] = pathAndRest(name, value, "PATH=SECS");
    auto delay = parseSeconds(rest);
    if (!delay) fail("--delay: invalid seconds '" + rest + "'");
    options.delays[path] = *delay;
  } else if (name == "--force") {
    options.forced[pathAndRest(name, value, "PATH=STATUS[:BODY]").first] = forcedReply(value);
  } else if (name == "--characters") {
    options.charactersFile = std::string(value);
  } else if (name == "--record") {
    options.record = std::string(value);
  } else if (name == "--interactive") {
    options.interactive = true;
  } else if (name == "--max-requests") {
    auto n = wholeNumber<std::uint64_t>(value);
    if (!n || *n == 0)
      fail("--max-requests: expected a whole number above 0, got '" + std::string(value) + "'");
    options.maxRequests = *n;
  } else if (name == "--max-connections") {
    auto n = wholeNumber<size_t>(value);
    if (!n || *n == 0) {
      fail("--max-connections: expected a whole number above 0, got '" + std::string(value) + "'");
    }
    options.maxConnections = *n;
  } else if (name == "--quiet") {
    options.quiet = true;
  } else if (name == "--help") {
    std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
    std::exit(0);
  } else if (name == "--version") {
    std::puts("tarnel-sim " TARNEL_SIM_VERSION);
    std::exit(0);
  }
}

}  // namespace

Options parseOptions(const std::vector<std::string>& argv) {
  Options options;
  for (size_t i = 1; i < argv.size(); ++i) {
    std::string_view word = argv[i];
    std::optional<std::string_view> inlineValue;
    if (word.starts_with("--")) {
      if (size_t equals = word.find('='); equals != std::string_view::npos) {
        inlineValue = word.substr(equals + 1);
        word = word.substr(0, equals);
      }
    }
    const OptionName* option = nullptr;
    for (const auto& candidate : kOptions) {
      if (word == candidate.longName ||
          (!candidate.shortName.empty() && word == candidate.shortName)) {
        option = &candidate;
      }
    }
    if (!option) fail("unknown option '" + std::string(word) + "' (see tarnel-sim --help)");
    if (option->takes == Takes::nothing) {
      if (inlineValue) fail(std::string(option->longName) + " takes no value");
      apply(options, option->longName, "");
      continue;
    }
    if (!inlineValue) {
      if (i + 1 == argv.size()) fail(std::string(option->longName) + " needs a value");
      inlineValue = argv[++i];
    }
    apply(options, option->longName, *inlineValue);
  }
  if (options.interactive && options.record == "-") {
    fail("--record - and --interactive both use standard output: record to a file instead");
  }
  return options;
}

}  // namespace sim
