#include "mcp/server.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "client/data_task.h"
#include "mcp/jsonrpc.h"
#include "mcp/raw_json.h"
#include "mcp/tools.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// Enough for an agent's parallel calls, few enough for a small process. Each call of a batch
// counts. Approvals are counted apart, up to the same number, so that calls waiting for a person
// never keep a host's permission decisions from being asked.
constexpr size_t kMostCallsInFlight = 16;

constexpr const char* kInstructions =
    "Cards in the notch of the user's Mac, through the Tarnel app. notify and say return at "
    "once; ask, listen and game wait for the user, up to their timeout (300 seconds unless "
    "given), so allow the call at least as long. A dismissed question or a cancelled compose is "
    "a normal result that says so, never an answer. approve is for agent hosts' permission "
    "decisions, not for questions.";

// A call that waits for a person reports progress when its request asked for it with a token.
std::optional<Json> progressToken(const Message& request) {
  auto meta = request.params.find("_meta");
  if (meta == request.params.end() || !meta->is_object()) return std::nullopt;
  auto token = meta->find("progressToken");
  if (token == meta->end() || !(token->is_string() || token->is_number())) return std::nullopt;
  return *token;
}

}  // namespace

// A batch is answered with one array once every request in it has been answered; a cancelled
// request has no entry, and a batch left with none has no answer.
struct Server::Batch {
  std::mutex mutex;
  size_t unanswered = 0;
  Json answers = Json::array();
};

Server::Server(CallRunner run, LineWriter write, Concurrency concurrency, double progressInterval)
    : run_(std::move(run)),
      write_(std::move(write)),
      concurrency_(concurrency),
      progress_(progressInterval, [this](std::string line) { send(std::move(line)); }) {}

void Server::handleLine(std::string_view line) {
  if (stopped_) return;
  // A line feed ends a message; a carriage return before it and blank lines mean nothing.
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return;
  Incoming incoming = parseLine(line, hasBatches(revision_));
  if (!incoming.batch) return handle(incoming.messages.front(), nullptr);

  auto batch = std::make_shared<Batch>();
  for (const auto& message : incoming.messages) {
    const bool answered =
        message.kind == Message::Kind::request || message.kind == Message::Kind::invalid;
    batch->unanswered += answered ? 1 : 0;
  }
  // Counted before any is handled, so that no answer completes the batch early.
  for (auto& message : incoming.messages) handle(message, batch);
}

void Server::handle(Message& message, const ReplyTo& to) {
  switch (message.kind) {
    case Message::Kind::invalid:
      return reply(to, errorMessage(message.id, message.error, message.problem));
    case Message::Kind::response:
      return;  // this server sends no requests
    case Message::Kind::notification:
      // Before initialize nothing is in flight, and no other notification asks for anything.
      if (message.method == "notifications/cancelled") {
        if (auto id = message.params.find("requestId"); id != message.params.end()) cancel(*id);
      }
      return;
    case Message::Kind::request:
      return answer(message, to);
  }
}

void Server::refuseLongLine(size_t longest) {
  if (stopped_) return;
  send(lineOf(
      errorMessage(nullptr, kParseError,
                   "parse error: the line is longer than " + std::to_string(longest) + " bytes")));
}

void Server::finish() {
  std::vector<std::string> waiting;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, call] : calls_) {
      if (call.waitsForPerson) waiting.push_back(key);
    }
  }
  // Their progress first, so that none follows the cancellation.
  for (const auto& key : waiting) progress_.stop(key);
  std::unique_lock lock(mutex_);
  for (const auto& key : waiting) {
    if (auto call = calls_.find(key); call != calls_.end()) call->second.cancellation->cancel();
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

// `answer` is null for a request that gets none: a cancelled call.
void Server::reply(const ReplyTo& to, Json answer) {
  if (!to) {
    if (!answer.is_null()) send(lineOf(answer));
    return;
  }
  std::string line;
  {
    std::lock_guard lock(to->mutex);
    if (!answer.is_null()) to->answers.push_back(std::move(answer));
    if (--to->unanswered > 0 || to->answers.empty()) return;
    line = lineOf(to->answers);
  }
  send(std::move(line));
}

// Until initialize is answered only ping is; from then on the session is open, and stays as
// initialize left it.
void Server::answer(Message& request, const ReplyTo& to) {
  const Json& id = request.id;
  const std::string& method = request.method;
  if (method == "ping") return reply(to, resultMessage(id, Json::object()));
  if (method == "initialize") {
    if (to) {
      return reply(to, errorMessage(id, kInvalidRequest, "initialize cannot be part of a batch"));
    }
    if (initialized_) {
      return reply(to, errorMessage(id, kInvalidRequest, "the session is already initialized"));
    }
    initialized_ = true;
    return reply(to, resultMessage(id, initialize(request)));
  }
  if (!initialized_) {
    return reply(to, errorMessage(id, kServerNotInitialized, "server not initialized"));
  }
  if (method == "tools/list") return reply(to, resultMessage(id, toolList(revision_)));
  if (method == "tools/call") return startCall(request, to);
  reply(to, errorMessage(id, kMethodNotFound, "method not found: " + method));
}

// A client that asks for a revision the server does not know gets the newest.
Json Server::initialize(const Message& request) {
  auto asked = request.params.find("protocolVersion");
  if (asked != request.params.end() && asked->is_string()) {
    revision_ = revisionNamed(asked->get_ref<const std::string&>()).value_or(kNewestRevision);
  }
  return {{"protocolVersion", dateOf(revision_)},
          {"capabilities", {{"tools", {{"listChanged", false}}}}},
          {"serverInfo", {{"name", "vesk-mcp"}, {"version", VESK_VERSION}}},
          {"instructions", kInstructions}};
}

void Server::startCall(Message& request, const ReplyTo& to) {
  const Json& id = request.id;
  auto name = request.params.find("name");
  if (name == request.params.end() || !name->is_string()) {
    return reply(to, errorMessage(id, kInvalidParams, "tools/call needs the name of a tool"));
  }
  const Tool* tool = findTool(name->get<std::string>());
  if (!tool) {
    return reply(to, errorMessage(id, kInvalidParams, "unknown tool: " + name->get<std::string>()));
  }
  // Taken, not copied: they may hold an image of megabytes.
  Json arguments = Json::object();
  if (auto given = request.params.find("arguments");
      given != request.params.end() && !given->is_null()) {
    arguments = std::move(*given);
  }
  std::optional<std::string> problem;
  if (!arguments.is_object()) {
    problem = "the arguments must be an object";
  } else if (auto wrong = argumentProblem(*tool, arguments)) {
    problem = "invalid arguments for " + name->get<std::string>() + ": " + *wrong;
  }
  if (problem) {
    // An approval's answer is a decision whatever its arguments: a refusal.
    if (!isApproval(*tool) && (!arguments.is_object() || !argumentErrorsAreToolErrors(revision_))) {
      return reply(to, errorMessage(id, kInvalidParams, *problem));
    }
    return reply(to, resultMessage(id, refusedCall(*tool, *problem)));
  }
  std::string rawArguments;
  if (isApproval(*tool)) {
    auto params = rawMember(request.raw, "params");
    rawArguments = params ? rawMember(*params, "arguments").value_or("") : "";
  }

  const std::string key = id.dump();
  auto cancellation = std::make_shared<Cancellation>();
  if (!admitCall(id, key, *tool, {cancellation, waitsForPerson(*tool), isApproval(*tool)}, to)) {
    return;
  }
  if (waitsForPerson(*tool)) {
    if (auto token = progressToken(request)) {
      progress_.start(key, *token, hasProgressMessages(revision_));
    }
  }
  if (concurrency_ == Concurrency::sequential) {
    return runCall(id, key, *tool, arguments, rawArguments, revision_, *cancellation, to);
  }
  try {
    std::thread([this, id, key, tool, arguments = std::move(arguments),
                 rawArguments = std::move(rawArguments), revision = revision_, cancellation, to] {
      runCall(id, key, *tool, arguments, rawArguments, revision, *cancellation, to);
    }).detach();
  } catch (const std::system_error& e) {
    progress_.stop(key);
    {
      std::lock_guard lock(mutex_);
      calls_.erase(key);
    }
    reply(to,
          resultMessage(id, refusedCall(*tool, std::string("cannot start the call: ") + e.what())));
  }
}

void Server::runCall(const Json& id, const std::string& key, const Tool& tool,
                     const Json& arguments, std::string_view rawArguments, Revision revision,
                     Cancellation& cancellation, const ReplyTo& to) {
  Json result = run_(tool, arguments, rawArguments, revision, cancellation);
  progress_.stop(key);  // before the result: no progress follows it
  // A cancelled call gets no answer: its client has given up on it, or is gone.
  reply(to, cancellation.cancelled() ? Json() : resultMessage(id, std::move(result)));
  std::lock_guard lock(mutex_);
  calls_.erase(key);
  // Under the lock: once it is released, this thread touches nothing of the server's.
  idle_.notify_all();
}

bool Server::admitCall(const Json& id, const std::string& key, const Tool& tool, Call call,
                       const ReplyTo& to) {
  Json refusal;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;  // set before stop() cancels: no call starts past it
    const auto alike = std::count_if(calls_.begin(), calls_.end(), [&](const auto& entry) {
      return entry.second.approval == call.approval;
    });
    if (calls_.contains(key)) {
      refusal =
          errorMessage(id, kInvalidRequest, "the id " + key + " is taken by a call in flight");
    } else if (static_cast<size_t>(alike) >= kMostCallsInFlight) {
      refusal = resultMessage(
          id,
          refusedCall(tool, std::string(call.approval ? "too many approvals" : "too many calls") +
                                " in flight: at most " + std::to_string(kMostCallsInFlight) +
                                " at once"));
    } else {
      calls_.emplace(key, std::move(call));
      return true;
    }
  }
  reply(to, std::move(refusal));
  return false;
}

// Only a request's id can name a call in flight: anything else names none.
void Server::cancel(const Json& id) {
  if (!id.is_string() && !id.is_number()) return;
  const std::string key = id.dump();
  progress_.stop(key);  // first: no progress follows the cancellation
  std::lock_guard lock(mutex_);
  auto call = calls_.find(key);
  if (call != calls_.end()) call->second.cancellation->cancel();
}

}  // namespace vesk::mcp
