#include "mcp/server.h"

#include <system_error>
#include <thread>
#include <utility>

#include "client/data_task.h"
#include "mcp/jsonrpc.h"
#include "mcp/tools.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// The protocol revisions this server speaks, newest first: it answers a client that asks for
// one of them in that one, and any other client in the newest.
constexpr const char* kRevisions[] = {"2025-11-25", "2025-06-18"};

// Enough for an agent's parallel calls, few enough for a small process.
constexpr size_t kMostCallsInFlight = 16;

constexpr const char* kInstructions =
    "Cards in the notch of the user's Mac, through the Tarnel app. notify and say return at "
    "once; ask, listen and game wait for the user, up to their timeout (300 seconds unless "
    "given), so allow the call at least as long. A dismissed question or a cancelled compose is "
    "a normal result that says so, never an answer.";

}  // namespace

Server::Server(CallRunner run, LineWriter write, Concurrency concurrency)
    : run_(std::move(run)),
      write_(std::move(write)),
      concurrency_(concurrency),
      revision_(kRevisions[0]) {}

void Server::handleLine(std::string_view line) {
  if (stopped_) return;
  // A line feed ends a message; a carriage return before it and blank lines mean nothing.
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return;
  Message message = parseMessage(line);
  switch (message.kind) {
    case Message::Kind::invalid:
      return send(errorLine(message.id, message.error, message.problem));
    case Message::Kind::response:
      return;  // this server sends no requests
    case Message::Kind::notification:
      // Before initialize nothing is in flight, and no other notification asks for anything.
      if (message.method == "notifications/cancelled") {
        if (auto id = message.params.find("requestId"); id != message.params.end()) cancel(*id);
      }
      return;
    case Message::Kind::request:
      return answer(message);
  }
}

void Server::refuseLongLine(size_t longest) {
  if (stopped_) return;
  send(errorLine(nullptr, kParseError,
                 "parse error: the line is longer than " + std::to_string(longest) + " bytes"));
}

void Server::finish() {
  std::unique_lock lock(mutex_);
  for (auto& [key, call] : calls_) {
    if (call.waitsForPerson) call.cancellation->cancel();
  }
  idle_.wait(lock, [this] { return calls_.empty(); });
}

void Server::stop() {
  stopped_ = true;
  std::lock_guard lock(mutex_);
  for (auto& [key, call] : calls_) call.cancellation->cancel();
}

void Server::send(std::string line) {
  line += '\n';
  if (!write_(line)) stop();
}

// Until initialize is answered only ping is; from then on the session is open, and stays as
// initialize left it.
void Server::answer(Message& request) {
  const std::string& method = request.method;
  if (method == "ping") return send(resultLine(request.id, Json::object()));
  if (method == "initialize") {
    if (initialized_) {
      return send(errorLine(request.id, kInvalidRequest, "the session is already initialized"));
    }
    initialized_ = true;
    return send(resultLine(request.id, initialize(request)));
  }
  if (!initialized_) {
    return send(errorLine(request.id, kServerNotInitialized, "server not initialized"));
  }
  if (method == "tools/list") return send(resultLine(request.id, toolList()));
  if (method == "tools/call") return startCall(request);
  send(errorLine(request.id, kMethodNotFound, "method not found: " + method));
}

Json Server::initialize(const Message& request) {
  auto asked = request.params.find("protocolVersion");
  for (const char* revision : kRevisions) {
    if (asked != request.params.end() && *asked == revision) revision_ = revision;
  }
  return {{"protocolVersion", revision_},
          {"capabilities", {{"tools", {{"listChanged", false}}}}},
          {"serverInfo", {{"name", "vesk-mcp"}, {"version", VESK_VERSION}}},
          {"instructions", kInstructions}};
}

void Server::startCall(Message& request) {
  const Json& id = request.id;
  auto name = request.params.find("name");
  if (name == request.params.end() || !name->is_string()) {
    return send(errorLine(id, kInvalidParams, "tools/call needs the name of a tool"));
  }
  const Tool* tool = findTool(name->get<std::string>());
  if (!tool)
    return send(errorLine(id, kInvalidParams, "unknown tool: " + name->get<std::string>()));
  // Taken, not copied: they may hold an image of megabytes.
  Json arguments = Json::object();
  if (auto given = request.params.find("arguments");
      given != request.params.end() && !given->is_null()) {
    arguments = std::move(*given);
  }
  if (!arguments.is_object()) {
    return send(errorLine(id, kInvalidParams, "the arguments must be an object"));
  }
  if (auto problem = argumentProblem(*tool, arguments)) {
    std::string message = "invalid arguments for " + name->get<std::string>() + ": " + *problem;
    // 2025-11-25 made these tool errors, which the model reads and can correct.
    if (revision_ == "2025-06-18") return send(errorLine(id, kInvalidParams, message));
    return send(resultLine(id, toolError(message)));
  }

  const std::string key = id.dump();
  auto cancellation = std::make_shared<Cancellation>();
  if (!admitCall(id, key, {cancellation, waitsForPerson(*tool)})) return;
  if (concurrency_ == Concurrency::sequential) {
    return runCall(id, key, *tool, arguments, *cancellation);
  }
  try {
    std::thread([this, id, key, tool, arguments = std::move(arguments), cancellation] {
      runCall(id, key, *tool, arguments, *cancellation);
    }).detach();
  } catch (const std::system_error& e) {
    {
      std::lock_guard lock(mutex_);
      calls_.erase(key);
    }
    send(resultLine(id, toolError(std::string("cannot start the call: ") + e.what())));
  }
}

void Server::runCall(const Json& id, const std::string& key, const Tool& tool,
                     const Json& arguments, Cancellation& cancellation) {
  Json result = run_(tool, arguments, cancellation);
  // A cancelled call gets no answer: its client has given up on it, or is gone.
  if (!cancellation.cancelled()) send(resultLine(id, result));
  std::lock_guard lock(mutex_);
  calls_.erase(key);
  // Under the lock: once it is released, this thread touches nothing of the server's.
  idle_.notify_all();
}

bool Server::admitCall(const Json& id, const std::string& key, Call call) {
  std::string refusal;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;  // set before stop() cancels: no call starts past it
    if (calls_.contains(key)) {
      refusal = errorLine(id, kInvalidRequest, "the id " + key + " is taken by a call in flight");
    } else if (calls_.size() >= kMostCallsInFlight) {
      refusal = resultLine(id, toolError("too many calls in flight: at most " +
                                         std::to_string(kMostCallsInFlight) + " at once"));
    } else {
      calls_.emplace(key, std::move(call));
      return true;
    }
  }
  send(std::move(refusal));
  return false;
}

// Only a request's id can name a call in flight: anything else names none.
void Server::cancel(const Json& id) {
  if (!id.is_string() && !id.is_number()) return;
  std::lock_guard lock(mutex_);
  auto call = calls_.find(id.dump());
  if (call != calls_.end()) call->second.cancellation->cancel();
}

}  // namespace vesk::mcp
