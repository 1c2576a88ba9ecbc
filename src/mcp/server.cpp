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
#include "mcp/stateless.h"
#include "mcp/tools.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// Enough for an agent's parallel calls, few enough for a small process. Each call of a batch
// counts. Approvals are counted apart, up to the same number, so that calls waiting for a person
// never keep a host's permission decisions from being asked.
constexpr size_t kMostCallsInFlight = 16;

// A subscription costs its id alone, as nothing is ever sent on one; the bound keeps a client
// that never cancels from growing the process.
constexpr size_t kMostSubscriptions = 16;

// The members an approval's action may come in, as hosts name them.
constexpr const char* kApprovalInputs[] = {"input", "tool_input"};

constexpr const char* kInstructions =
    "Cards in the notch of the user's Mac, through the Tarnel app. notify and say return at "
    "once; ask, listen and game wait for the user, up to their timeout (300 seconds unless "
    "given), so allow the call at least as long. A dismissed question or a cancelled compose is "
    "a normal result that says so, never an answer. approve is for agent hosts' permission "
    "decisions, not for questions.";

const Json& capabilities() {
  static const Json tools = {{"tools", {{"listChanged", false}}}};
  return tools;
}

// The member `name` of `object`, when it is there; null otherwise.
const Json& member(const Json& object, const char* name) {
  static const Json none;
  auto found = object.find(name);
  return found == object.end() ? none : *found;
}

// What initialize requires, each in the form every revision's schema gives it.
std::optional<std::string> initializeProblem(const Json& params) {
  if (!member(params, "protocolVersion").is_string()) {
    return "initialize needs protocolVersion, a string";
  }
  if (!member(params, "capabilities").is_object()) {
    return "initialize needs capabilities, an object";
  }
  const Json& client = member(params, "clientInfo");
  if (!member(client, "name").is_string() || !member(client, "version").is_string()) {
    return "initialize needs clientInfo, an object with a name and a version";
  }
  return std::nullopt;
}

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

namespace {

// A call's own copy of a text in its message, which outlives the line.
struct RawText {
  std::string text;
  size_t offset = 0, size = 0;
  std::string_view view() const { return std::string_view(text).substr(offset, size); }
};

// `part` of the message's text, held by taking over the line it lies in where the message has it
// to itself: an approval at the line limit is then held once more, not twice.
RawText heldText(Message& message, std::string_view part) {
  const std::string* line = message.line;
  if (!line || part.data() < line->data() ||
      part.data() + part.size() > line->data() + line->size()) {
    return {std::string(part), 0, part.size()};
  }
  const size_t offset = static_cast<size_t>(part.data() - line->data());
  message.raw = {};  // it lay in the line, which is the call's now
  return {std::exchange(*message.line, {}), offset, part.size()};
}

}  // namespace

void Server::handleLine(std::string_view line, std::string* owner) {
  if (stopped_) return;
  // A line feed ends a message; a carriage return before it and blank lines mean nothing.
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return;
  // An approval needs the line's own text, the rest of a call only what it says. Of an
  // approval's input only the text is read: its parsed copy is checked and dropped.
  const auto textUse = [](const Json& message) {
    if (!message.is_object() || message.value("method", "") != "tools/call") {
      return LongestText::taken;
    }
    auto params = message.find("params");
    if (params == message.end() || !params->is_object()) return LongestText::taken;
    auto name = params->find("name");
    const Tool* tool = name != params->end() && name->is_string()
                           ? findTool(name->get_ref<const std::string&>())
                           : nullptr;
    if (!tool || !isApproval(*tool)) return LongestText::taken;
    const Json& arguments = member(*params, "arguments");
    for (const char* input : kApprovalInputs) {
      if (holdsLongestText(member(arguments, input))) return LongestText::unread;
    }
    return LongestText::copied;
  };
  Incoming incoming = parseLine(line, hasBatches(revision_), owner, textUse);
  if (!incoming.batch) {
    incoming.messages.front().line = owner;  // heldText takes it only where the text lies in it
    return handle(incoming.messages.front(), {});
  }

  auto batch = std::make_shared<Batch>();
  for (const auto& message : incoming.messages) {
    const bool answered =
        message.kind == Message::Kind::request || message.kind == Message::Kind::invalid;
    batch->unanswered += answered ? 1 : 0;
  }
  // Counted before any is handled, so that no answer completes the batch early.
  for (auto& message : incoming.messages) handle(message, {batch});
}

void Server::handle(Message& message, const ReplyTo& to) {
  switch (message.kind) {
    case Message::Kind::invalid:
      return reply(to, unreadable(errorMessage(message.id, message.error, message.problem)));
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
  send(lineOf(unreadable(
      errorMessage(nullptr, kParseError,
                   "parse error: the line is longer than " + std::to_string(longest) + " bytes"))));
}

void Server::finish() {
  std::vector<std::string> waiting;
  std::map<std::string, Json> subscriptions;
  {
    std::lock_guard lock(mutex_);
    subscriptions.swap(subscriptions_);
    for (const auto& [key, call] : calls_) {
      if (call.waitsForPerson) waiting.push_back(key);
    }
  }
  // A subscription the server ends is answered, which tells the client it ended on purpose.
  if (!stopped_) {
    for (const auto& [key, id] : subscriptions) send(lineOf(subscriptionClosed(id)));
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
  if (to.stateless && answer.contains("result")) answer["result"] = completed(answer["result"]);
  if (!to.batch) {
    if (!answer.is_null()) send(lineOf(answer));
    return;
  }
  Batch& batch = *to.batch;
  std::string line;
  {
    std::lock_guard lock(batch.mutex);
    if (!answer.is_null()) batch.answers.push_back(std::move(answer));
    if (--batch.unanswered > 0 || batch.answers.empty()) return;
    line = lineOf(batch.answers);
  }
  send(std::move(line));
}

Json Server::unreadable(Json error) const {
  if (error["id"].is_null() && !hasNullIds(revision_)) error.erase("id");
  return error;
}

// A request of the session's revisions: until initialize is answered only ping is; from then on
// the session is open, and stays as initialize left it. A 2026-07-28 request is answered on its
// own, whether a session is open or not.
void Server::answer(Message& request, const ReplyTo& to) {
  if (Claim claim = claimOf(request); claim.kind != Claim::Kind::session) {
    return answerStateless(request, claim, to);
  }
  const Json& id = request.id;
  const std::string& method = request.method;
  if (method == "ping") return reply(to, resultMessage(id, Json::object()));
  if (method == "initialize") {
    if (to.batch) {
      return reply(to, errorMessage(id, kInvalidRequest, "initialize cannot be part of a batch"));
    }
    if (initialized_) {
      return reply(to, errorMessage(id, kInvalidRequest, "the session is already initialized"));
    }
    if (auto problem = initializeProblem(request.params)) {
      return reply(to, errorMessage(id, kInvalidParams, *problem));
    }
    initialized_ = true;
    return reply(to, resultMessage(id, initialize(request)));
  }
  if (!initialized_) {
    return reply(to, errorMessage(id, kServerNotInitialized, "server not initialized"));
  }
  if (method == "tools/list") return reply(to, resultMessage(id, toolList(revision_)));
  if (method == "tools/call") return startCall(request, to, revision_);
  reply(to, errorMessage(id, kMethodNotFound, "method not found: " + method));
}

// The methods 2026-07-28 removed (initialize, ping, logging/setLevel, resources/subscribe, ...)
// are unknown to it, like any the server lacks.
void Server::answerStateless(Message& request, const Claim& claim, ReplyTo to) {
  const Json& id = request.id;
  const std::string& method = request.method;
  if (to.batch) {
    return reply(
        to, errorMessage(id, kInvalidRequest, "a 2026-07-28 request cannot be part of a batch"));
  }
  if (claim.kind == Claim::Kind::malformed) {
    return reply(to, errorMessage(id, kInvalidParams, claim.detail));
  }
  if (claim.kind == Claim::Kind::unsupported)
    return reply(to, unsupportedVersion(id, claim.detail));
  to.stateless = true;
  if (method == "server/discover") {
    Json discovered = {{"supportedVersions", allDates()},
                       {"capabilities", capabilities()},
                       {"instructions", kInstructions}};
    return reply(to, resultMessage(id, cacheable(std::move(discovered))));
  }
  if (method == "tools/list") {
    return reply(to, resultMessage(id, cacheable(toolList(Revision::r2026_07_28))));
  }
  if (method == "tools/call") return startCall(request, to, Revision::r2026_07_28);
  if (method == "subscriptions/listen") return listen(id, to);
  reply(to, errorMessage(id, kMethodNotFound, "method not found: " + method));
}

// A client that asks for a revision the server does not know gets the newest one of a session.
Json Server::initialize(const Message& request) {
  auto asked = revisionNamed(request.params.at("protocolVersion").get_ref<const std::string&>());
  revision_ = asked && !isStateless(*asked) ? *asked : kNewestRevision;
  return {{"protocolVersion", dateOf(revision_)},
          {"capabilities", capabilities()},
          {"serverInfo", serverInfo()},
          {"instructions", kInstructions}};
}

// Acknowledged at once, with none of the notifications asked for: the server sends none.
void Server::listen(const Json& id, const ReplyTo& to) {
  const std::string key = id.dump();
  Json refusal;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    if (calls_.contains(key) || subscriptions_.contains(key)) {
      refusal =
          errorMessage(id, kInvalidRequest, "the id " + key + " is taken by a request in flight");
    } else if (subscriptions_.size() >= kMostSubscriptions) {
      refusal = errorMessage(
          id, kInvalidRequest,
          "too many subscriptions: at most " + std::to_string(kMostSubscriptions) + " at once");
    } else {
      subscriptions_.emplace(key, id);
    }
  }
  if (!refusal.is_null()) return reply(to, std::move(refusal));
  send(lineOf(acknowledgement(id)));
}

void Server::startCall(Message& request, const ReplyTo& to, Revision revision) {
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
    if (!isApproval(*tool) && (!arguments.is_object() || !argumentErrorsAreToolErrors(revision))) {
      return reply(to, errorMessage(id, kInvalidParams, *problem));
    }
    return reply(to, resultMessage(id, refusedCall(*tool, *problem)));
  }
  RawText rawArguments;
  if (isApproval(*tool)) {
    auto params = rawMember(request.raw, "params");
    rawArguments = heldText(request, params ? rawMember(*params, "arguments").value_or("") : "");
    // The card and the decision are made from that text: the input's parsed copy, which may be
    // as large, has been checked and is not kept while a person decides.
    for (const char* member : kApprovalInputs) {
      if (auto input = arguments.find(member); input != arguments.end()) *input = Json::object();
    }
  }

  const std::string key = id.dump();
  auto cancellation = std::make_shared<Cancellation>();
  if (!admitCall(id, key, *tool, {cancellation, waitsForPerson(*tool), isApproval(*tool)}, to)) {
    return;
  }
  if (waitsForPerson(*tool)) {
    if (auto token = progressToken(request)) {
      progress_.start(key, *token, hasProgressMessages(revision));
    }
  }
  if (concurrency_ == Concurrency::sequential) {
    return runCall(id, key, *tool, arguments, rawArguments.view(), revision, *cancellation, to);
  }
  try {
    std::thread([this, id, key, tool, arguments = std::move(arguments),
                 rawArguments = std::move(rawArguments), revision, cancellation, to] {
      runCall(id, key, *tool, arguments, rawArguments.view(), revision, *cancellation, to);
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

// Only a request's id can name a call in flight or a subscription: anything else names none.
void Server::cancel(const Json& id) {
  if (!id.is_string() && !id.is_number()) return;
  const std::string key = id.dump();
  progress_.stop(key);  // first: no progress follows the cancellation
  std::lock_guard lock(mutex_);
  subscriptions_.erase(key);  // a cancelled subscription gets no answer
  auto call = calls_.find(key);
  if (call != calls_.end()) call->second.cancellation->cancel();
}

}  // namespace vesk::mcp
