#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

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

  Response request(std::string_view method, std::string_view path, std::optional<std::string> body,
                   std::optional<double> timeout) const;
  Response get(std::string_view path, std::optional<double> timeout = std::nullopt) const;
  // Sends `json`, which must be an object, as the body; the empty object is sent as "{}".
  Response post(std::string_view path, const nlohmann::json& json,
                std::optional<double> timeout = std::nullopt) const;
};

// `object` as the compact JSON text of a request body ("{}" when empty); nothing when a text in
// it is not valid UTF-8.
std::optional<std::string> jsonBodyText(const nlohmann::json& object);

}  // namespace vesk
