// A real HTTP server on 127.0.0.1 that end-to-end tests point vesk at: it records each request it
// receives and answers every connection the same scripted way.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vesk::test {

// What the server does with each connection, after it has read one request whole.
struct Reply {
  enum class Mode {
    respond,  // a normal HTTP/1.1 response: status, headers, body (Content-Length set), then close
    raw,      // write `raw` bytes as they are, then close (for chunked, 1xx, non-HTTP, cut answers)
    silent,   // never answer; keep the connection open until the server is destroyed
    close,    // close the connection without writing anything
    reset,    // close with SO_LINGER {1,0} so the client sees a TCP reset
  };
  Mode mode = Mode::respond;
  int status = 200;  // 100..999, odd codes included
  // Reason phrase; empty means the standard one, "<unknown-status>" for codes Beast doesn't know.
  std::string reason;
  std::string body;
  // Extra response headers, sent in this order. The server adds Content-Length and
  // "Connection: close" unless given here; with "Transfer-Encoding: chunked" here, the body is
  // sent chunked instead.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string raw;
  std::chrono::milliseconds delay{0};  // wait before answering (any mode)
  std::chrono::milliseconds drip{0};   // raw mode: write one byte at a time, this far apart
  bool holdOpen = false;               // raw mode: keep the connection open after the bytes
};

Reply respond(int status, std::string body);
Reply rawReply(std::string bytes);
Reply silent();
Reply closeAfterRequest();
Reply resetAfterRequest();

// The request as the server received it.
struct ReceivedRequest {
  std::string method;  // "GET", "POST"
  std::string target;  // "/health"
  // Names lower-cased. A header sent more than once appears once, its values joined by ", ".
  std::map<std::string, std::string> headers;
  std::string body;

  bool hasHeader(std::string_view lowerName) const;
};

// Listens on 127.0.0.1 on a port chosen by the OS and serves every connection with the same
// Reply, on its own thread. A request is recorded before it is answered, so once vesk has exited
// requests() holds every whole request it sent. Destruction stops the thread promptly, even with
// silent connections open, and joins it.
class LoopbackServer {
 public:
  // Throws std::invalid_argument for a status outside 100..999.
  explicit LoopbackServer(Reply reply);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  unsigned short port() const;
  std::vector<ReceivedRequest> requests() const;  // everything received so far (a copy)

  struct State;  // defined in the .cpp, to keep Boost out of every test's includes

 private:
  std::unique_ptr<State> state_;
};

// A port on 127.0.0.1 with nothing listening on it, for "connection refused" cases.
int unusedPort();

}  // namespace vesk::test
