// A bare HTTP/1.1 client for the requests vesk never sends: other methods, bad bodies, broken
// framing. One connection per exchange, read to its end.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace vesk::test {

struct HttpAnswer {
  int status = 0;                              // 0 when no status line came back
  std::map<std::string, std::string> headers;  // names lower-cased
  std::string body;
};

// Sends `bytes` as they are to 127.0.0.1:`port` and reads the answer until the server closes,
// within 10 seconds. Throws std::system_error when it cannot connect.
HttpAnswer exchangeRaw(unsigned short port, const std::string& bytes);

// A well-formed request; a body goes with Content-Type application/json.
HttpAnswer exchange(unsigned short port, const std::string& method, const std::string& target,
                    const std::optional<std::string>& body = std::nullopt);

}  // namespace vesk::test
