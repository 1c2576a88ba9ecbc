#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/json_body.h"

namespace vesk {

class Cancellation;

// What every request returns: the HTTP status as received and the body as UTF-8 text (empty
// when there was none or it was not valid UTF-8).
struct Response {
  int statusCode = 0;
  std::string body;
};

// The client of the app's loopback API. Each call makes one request and blocks until the
// answer; every failure below the HTTP status line ends the run with its message.
struct VeskClient {
  std::string baseURL;  // "http://127.0.0.1:" and the port
  double defaultTimeout = 0;
  Cancellation* cancellation = nullptr;  // lets another thread end the request in flight

  VeskClient(int port, double timeout);

  // `body`, when given, is sent as its pieces one after another.
  Response request(std::string_view method, std::string_view path,
                   std::optional<std::vector<std::string_view>> body,
                   std::optional<double> timeout) const;
  Response get(std::string_view path, std::optional<double> timeout = std::nullopt) const;
  // Sends `json` as the body; the empty object is sent as "{}".
  Response post(std::string_view path, const JsonBody& json = {},
                std::optional<double> timeout = std::nullopt) const;
};

}  // namespace vesk
