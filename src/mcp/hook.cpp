#include "mcp/hook.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "client/data_task.h"
#include "commands/calls.h"
#include "mcp/approve.h"
#include "mcp/jsonrpc.h"
#include "mcp/raw_json.h"
#include "mcp/transport.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// What `die` throws while the card is up, for the hook to catch.
struct Failure {
  std::string message;
};

// All of standard input, or nothing when it holds more than `longest` bytes or cannot be read.
std::optional<std::string> readInput(size_t longest) {
  std::string input;
  char chunk[1 << 16];
  while (true) {
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return input;
    if (input.size() + static_cast<size_t>(n) > longest) return std::nullopt;
    input.append(chunk, static_cast<size_t>(n));
  }
}

struct Request {
  std::string toolName;
  std::string_view rawInput;  // in the hook's input
  std::string folder;         // the session's working folder, when the host says
};

// The request in the hook's input, or why there is none to decide on.
std::optional<Request> requestIn(std::string_view input, std::string& problem) {
  if (input.find('\0') != std::string_view::npos || nestsTooDeep(input)) {
    problem = "the hook's input is not a PermissionRequest";
    return std::nullopt;
  }
  Json document = Json::parse(input, nullptr, /*allow_exceptions=*/false);
  auto text = [&](const char* key) -> const std::string* {
    auto member = document.is_object() ? document.find(key) : document.end();
    return document.is_object() && member != document.end() && member->is_string()
               ? &member->get_ref<const std::string&>()
               : nullptr;
  };
  const std::string* event = text("hook_event_name");
  const std::string* toolName = text("tool_name");
  if (!document.is_object() || (event && *event != "PermissionRequest") || !toolName ||
      !document.contains("tool_input") || !document["tool_input"].is_object()) {
    problem = "the hook's input is not a PermissionRequest with a tool_name and a tool_input";
    return std::nullopt;
  }
  const std::string* folder = text("cwd");
  return Request{*toolName, rawMember(input, "tool_input").value_or(""), folder ? *folder : ""};
}

// Members in the order hosts document them.
using Ordered = nlohmann::ordered_json;

std::string decision(Ordered behaviour) {
  Ordered line = {{"hookSpecificOutput",
                   {{"hookEventName", "PermissionRequest"}, {"decision", std::move(behaviour)}}}};
  return line.dump(-1, ' ', false, Ordered::error_handler_t::replace);
}

// Leaves the decision to the host's dialog, saying why on standard error.
int leaveToDialog(std::string_view why) {
  warn(std::string(why) + " — the host's own dialog asks instead");
  return 0;
}

int print(const std::string& line) {
  out(line);
  if (int error = flushOutput()) {
    warn("cannot write the decision: " + std::generic_category().message(error));
    return 1;
  }
  return 0;
}

// The signals a host ends its hook with close the connection, so the app withdraws the card.
void hangUpOnSignals(std::shared_ptr<Cancellation> cancellation) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread: all of them inherit it
  std::thread([cancellation = std::move(cancellation), signals] {
    int received = 0;
    sigwait(&signals, &received);
    cancellation->cancel();
  }).detach();
}

}  // namespace

int runPermissionHook(const Settings& settings) {
  auto input = readInput(kLongestLine);
  if (!input) return leaveToDialog("the hook's input could not be read, or is longer than 64 MiB");
  std::string problem;
  auto request = requestIn(*input, problem);
  if (!request) return leaveToDialog(problem);
  ApprovalCard card = approvalCard(request->toolName, request->rawInput);
  if (card.problem) return leaveToDialog(*card.problem);
  if (!card.whole && settings.approveWhole) {
    return print(decision({{"behavior", "deny"}, {"message", tooLongToShow(request->toolName)}}));
  }

  std::string agent = settings.agent;
  if (agent.empty())
    agent = folderName(request->folder.empty() ? currentFolder() : request->folder);
  const std::string title = approvalTitle(agent);
  auto cancellation = std::make_shared<Cancellation>();
  try {
    hangUpOnSignals(cancellation);
  } catch (const std::system_error& e) {
    return leaveToDialog(std::string("cannot watch for the host's signals: ") + e.what());
  }
  setFailureHandler([](std::string_view message) { throw Failure{std::string(message)}; });
  std::optional<std::string> answer;
  try {
    VeskClient client(settings.port, settings.approveTimeout);
    client.cancellation = cancellation.get();
    answer = answerOf(askQuestion(client, {card.question, {"Allow", "Deny"}, {{"title", title}}}));
  } catch (const Failure& failure) {
    if (cancellation->cancelled()) return 0;  // the host has ended the hook: nobody reads on
    return leaveToDialog(failure.message);
  }
  switch (verdictOf(answer)) {
    case Verdict::allowed:
      // The input runs as the host sent it: no updatedInput, which some hosts refuse.
      return print(decision({{"behavior", "allow"}}));
    case Verdict::denied:
      return print(
          decision({{"behavior", "deny"}, {"message", refusalFor(answer, request->toolName)}}));
    case Verdict::dismissed:
      return 0;
  }
  return 0;
}

}  // namespace vesk::mcp
