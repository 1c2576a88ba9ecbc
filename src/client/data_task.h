#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One HTTP exchange, reporting through a completion handler. It runs on the thread that waits for
// it: a one-request program gains nothing from a second thread but a start and two wake-ups
// across CPUs. Beast stays inside data_task.cpp.
namespace vesk {

// Lets another thread end an exchange in flight: `cancel` closes its connection, so the app sees
// the client hang up, and the exchange fails as a network error. An exchange that begins after
// `cancel` closes its connection as soon as it opens it.
class Cancellation {
 public:
  void cancel();
  bool cancelled() const;

  // The exchange's side: `close` runs once, on the cancelling thread (at once if `cancel` came
  // first), until `detach` returns.
  void attach(std::function<void()> close);
  void detach();

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::function<void()> close_;
};

struct HttpRequest {
  std::string host;  // an IPv4 or IPv6 address literal; no name is ever looked up
  unsigned short port = 0;
  std::string method;
  std::string target;
  // Sent one piece after another with "Content-Type: application/json"; the pieces must outlive
  // the exchange.
  std::optional<std::vector<std::string_view>> jsonBody;
  double timeoutSeconds = 0;             // for the whole exchange, connection included
  Cancellation* cancellation = nullptr;  // none for vesk's one request
};

struct HttpResponse {
  int statusCode = 0;
  bool bodyIsUtf8 = false;  // checked as the body arrived
};

struct TransportError {
  enum class Kind { cannotConnect, timedOut, other };
  Kind kind = Kind::other;
  std::string description;
};

// Called exactly once, on the thread that runs the task, when the exchange has ended one way or
// another.
using CompletionHandler =
    std::function<void(std::optional<std::string> data, std::optional<HttpResponse> response,
                       std::optional<TransportError> error)>;

class DataTask {
 public:
  DataTask(HttpRequest request, CompletionHandler completion);
  DataTask(const DataTask&) = delete;
  DataTask& operator=(const DataTask&) = delete;

  // Runs the exchange on the calling thread; returns once the completion handler has run.
  // Another thread ends it early through the request's Cancellation.
  void run();

 private:
  HttpRequest request_;
  CompletionHandler completion_;
};

}  // namespace vesk
