#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "mcp/progress.h"
#include "mcp/revision.h"

namespace vesk {
class Cancellation;
}

// vesk-mcp's session: the lines of one client, answered; its tool calls, carried out.
namespace vesk::mcp {

struct Claim;
struct Message;
struct Tool;

// Carries out a tool call whose arguments fit its schema and returns the CallToolResult as the
// session's revision has it: the app on its port in vesk-mcp, a stub in the fuzzer. Blocks until
// the call ends.
// `rawArguments` is the arguments' text as the client wrote it, for the tools that read it.
using CallRunner = std::function<nlohmann::json(const Tool& tool, const nlohmann::json& arguments,
                                                std::string_view rawArguments, Revision revision,
                                                Cancellation& cancellation)>;

// Writes one protocol message whole, its line feed included, from any thread; false when it
// could not, which ends the session. One the writer may drop (nobody is left to read it) counts
// as written.
using LineWriter = std::function<bool(std::string_view message)>;

enum class Concurrency {
  threads,     // each call on a thread of its own, answered when it ends
  sequential,  // each call carried out before the next line: nothing outlives handleLine
};

// With threads, calls may still run when handleLine returns: finish() waits for them, and must
// come before the server goes.
class Server {
 public:
  // A call that waits for a person and asked for progress gets it every `progressInterval`
  // seconds.
  Server(CallRunner run, LineWriter write, Concurrency concurrency, double progressInterval);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // One line of input, without its line feed; `owner`, when given, holds it whole, and may be
  // taken by the document read from it.
  void handleLine(std::string_view line, std::string* owner = nullptr);
  // A line longer than `longest` bytes, which was not kept.
  void refuseLongLine(size_t longest);

  // End of input: ends the subscriptions, cancels the calls that wait for a person, since nobody
  // is left to see their answer, and waits until every call has ended; the others end within
  // their own timeouts.
  void finish();

  // The session cannot go on: cancels every call in flight and takes no more lines.
  void stop();

  // While the returned lock is held, no progress notification starts. The input's thread holds
  // it from a read until the lines the read brought are handled, so that a cancellation it read
  // is acted on before any progress for the cancelled call is written.
  std::unique_lock<std::mutex> holdProgress() { return progress_.hold(); }

 private:
  struct Call {
    std::shared_ptr<Cancellation> cancellation;
    bool waitsForPerson = false;
    bool approval = false;  // approvals are counted apart from the other calls
  };

  // Where a request's answer goes: a line of its own, or its entry in a batch's array; and
  // whether its result is a 2026-07-28 one, which says it is complete and names the server.
  struct Batch;
  struct ReplyTo {
    std::shared_ptr<Batch> batch = nullptr;  // null for a line of its own
    bool stateless = false;
  };

  void send(std::string line);
  void reply(const ReplyTo& to, nlohmann::json answer);
  void handle(Message& message, const ReplyTo& to);
  void answer(Message& request, const ReplyTo& to);
  void answerStateless(Message& request, const Claim& claim, ReplyTo to);
  nlohmann::json initialize(const Message& request);
  void startCall(Message& request, const ReplyTo& to, Revision revision);
  void listen(const nlohmann::json& id, const ReplyTo& to);
  // An error for a message whose id could not be read, as the session's revision writes it.
  nlohmann::json unreadable(nlohmann::json error) const;
  void runCall(const nlohmann::json& id, const std::string& key, const Tool& tool,
               const nlohmann::json& arguments, std::string_view rawArguments, Revision revision,
               Cancellation& cancellation, const ReplyTo& to);
  // Whether the call may start; if not, it has been answered or, once stopped, dropped.
  bool admitCall(const nlohmann::json& id, const std::string& key, const Tool& tool, Call call,
                 const ReplyTo& to);
  void cancel(const nlohmann::json& id);

  const CallRunner run_;
  const LineWriter write_;
  const Concurrency concurrency_;
  // Read on the input's thread only.
  bool initialized_ = false;
  Revision revision_ = kNewestRevision;  // negotiated by initialize
  std::atomic<bool> stopped_ = false;

  std::mutex mutex_;
  std::condition_variable idle_;
  // The calls in flight, by their request id as JSON text.
  std::map<std::string, Call> calls_;
  // The open subscriptions (2026-07-28), by their request id as JSON text.
  std::map<std::string, nlohmann::json> subscriptions_;

  // Last, so that its thread ends before anything it writes through goes.
  ProgressReporter progress_;
};

}  // namespace vesk::mcp
