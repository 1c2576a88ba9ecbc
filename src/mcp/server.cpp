#include "mcp/server.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "client/data_task.h"
#include "mcp/jsonrpc.h"
#include "mcp/tools.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// The protocol revisions this server speaks: it answers a client that asks for one of them in
// that one, and any other client in the newest.
constexpr Revision kRevisions[] = {Revision::r2025_11_25, Revision::r2025_06_18};

// Enough for an agent's parallel calls, few enough for a small process.
constexpr size_t kMostCallsInFlight = 16;

constexpr const char* kInstructions =
    "Cards in the notch of the user's Mac, through the Tarnel app. notify and say return at "
    "once; ask, listen and game wait for the user, up to their timeout (300 seconds unless "
    "given), so allow the call at least as long. A dismissed question or a cancelled compose is "
    "a normal result that says so, never an answer.";

// Standard output carries protocol messages only, each written whole.
void writeLine(std::string line) {
  static std::mutex mutex;
  line += '\n';
  std::lock_guard lock(mutex);
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client is gone; end of input follows
    p += n;
    left -= static_cast<size_t>(n);
  }
}

class Server {
 public:
  explicit Server(const Settings& settings) : settings_(settings) {}

  void handle(std::string_view line) {
    Message message = parseMessage(line);
    switch (message.kind) {
      case Message::Kind::invalid:
        return writeLine(errorLine(message.id, message.error, message.problem));
      case Message::Kind::response:
        return;  // this server sends no requests
      case Message::Kind::notification:
        if (message.method == "notifications/cancelled") {
          cancel(message.params.value("requestId", Json()));
        }
        return;
      case Message::Kind::request:
        return answer(message);
    }
  }

  // End of input: nobody is left to answer.
  void finish() {
    std::unique_lock lock(mutex_);
    for (auto& [id, cancellation] : calls_) cancellation->cancel();
    idle_.wait(lock, [this] { return calls_.empty(); });
  }

 private:
  void answer(const Message& request) {
    const std::string& method = request.method;
    if (method == "initialize") return writeLine(resultLine(request.id, initialize(request)));
    if (method == "ping") return writeLine(resultLine(request.id, Json::object()));
    if (method == "tools/list") return writeLine(resultLine(request.id, toolList(revision_)));
    if (method == "tools/call") return startCall(request);
    writeLine(errorLine(request.id, kMethodNotFound, "method not found: " + method));
  }

  Json initialize(const Message& request) {
    revision_ = kRevisions[0];
    auto asked = request.params.find("protocolVersion");
    for (Revision revision : kRevisions) {
      if (asked != request.params.end() && *asked == dateOf(revision)) revision_ = revision;
    }
    return {{"protocolVersion", dateOf(revision_)},
            {"capabilities", {{"tools", {{"listChanged", false}}}}},
            {"serverInfo", {{"name", "vesk-mcp"}, {"version", VESK_VERSION}}},
            {"instructions", kInstructions}};
  }

  void startCall(const Message& request) {
    const Json& id = request.id;
    auto name = request.params.find("name");
    if (name == request.params.end() || !name->is_string()) {
      return writeLine(errorLine(id, kInvalidParams, "tools/call needs the name of a tool"));
    }
    const Tool* tool = findTool(name->get<std::string>());
    if (!tool) {
      return writeLine(errorLine(id, kInvalidParams, "unknown tool: " + name->get<std::string>()));
    }
    Json arguments = request.params.value("arguments", Json::object());
    if (arguments.is_null()) arguments = Json::object();
    if (!arguments.is_object()) {
      return writeLine(errorLine(id, kInvalidParams, "the arguments must be an object"));
    }
    if (auto problem = argumentProblem(*tool, arguments)) {
      std::string message = "invalid arguments for " + name->get<std::string>() + ": " + *problem;
      // 2025-11-25 made these tool errors, which the model reads and can correct.
      if (!argumentErrorsAreToolErrors(revision_)) {
        return writeLine(errorLine(id, kInvalidParams, message));
      }
      return writeLine(resultLine(id, toolError(message)));
    }

    const std::string key = id.dump();
    auto cancellation = std::make_shared<Cancellation>();
    if (auto refusal = registerCall(id, key, cancellation)) return writeLine(*refusal);
    try {
      std::thread([this, id, key, tool, arguments = std::move(arguments), revision = revision_,
                   cancellation] {
        Json result = callTool(*tool, arguments, settings_, revision, *cancellation);
        // A cancelled call gets no answer: its client has given up on it.
        if (!cancellation->cancelled()) writeLine(resultLine(id, result));
        std::lock_guard lock(mutex_);
        calls_.erase(key);
        // Under the lock: once it is released, this thread touches nothing of the server's.
        idle_.notify_all();
      }).detach();
    } catch (const std::system_error& e) {
      {
        std::lock_guard lock(mutex_);
        calls_.erase(key);
      }
      writeLine(resultLine(id, toolError(std::string("cannot start the call: ") + e.what())));
    }
  }

  // Nothing when the call may start, else the line that refuses it.
  std::optional<std::string> registerCall(const Json& id, const std::string& key,
                                          std::shared_ptr<Cancellation> cancellation) {
    std::lock_guard lock(mutex_);
    if (calls_.contains(key)) {
      return errorLine(id, kInvalidRequest, "the id " + key + " is taken by a call in flight");
    }
    if (calls_.size() >= kMostCallsInFlight) {
      return resultLine(id, toolError("too many calls in flight: at most " +
                                      std::to_string(kMostCallsInFlight) + " at once"));
    }
    calls_.emplace(key, std::move(cancellation));
    return std::nullopt;
  }

  void cancel(const Json& id) {
    std::lock_guard lock(mutex_);
    auto call = calls_.find(id.dump());
    if (call != calls_.end()) call->second->cancel();
  }

  const Settings settings_;
  Revision revision_ = kRevisions[0];  // negotiated by initialize; read on this thread only
  std::mutex mutex_;
  std::condition_variable idle_;
  // The calls in flight, by their request id as JSON text.
  std::map<std::string, std::shared_ptr<Cancellation>> calls_;
};

// A line feed ends a message; a carriage return before it and blank lines mean nothing.
void handleLine(Server& server, std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return;
  server.handle(line);
}

}  // namespace

int serve(const Settings& settings) {
  Server server(settings);
  std::string pending;  // what has come in of a line not yet ended
  char chunk[1 << 16];
  while (true) {
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t scanned = pending.size();
    pending.append(chunk, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', scanned)) != std::string::npos; scanned = start) {
      handleLine(server, std::string_view(pending).substr(start, end - start));
      start = end + 1;
    }
    pending.erase(0, start);
  }
  handleLine(server, pending);  // a last message without its line feed
  server.finish();
  return 0;
}

}  // namespace vesk::mcp
