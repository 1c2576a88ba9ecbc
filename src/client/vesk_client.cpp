#include "client/vesk_client.h"

#include <cmath>
#include <cstdio>

#include "cli/args.h"
#include "cli/output.h"
#include "client/data_task.h"

namespace vesk {
namespace {

struct ParsedURL {
  std::string host;
  std::optional<unsigned short> port;
  std::string target;
};

// Reads the only kind of URL this program forms: "http://", an IPv4 address, an optional port,
// and a path.
std::optional<ParsedURL> parseURL(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (!url.starts_with(kScheme)) return std::nullopt;
  url.remove_prefix(kScheme.size());
  size_t slash = url.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view authority = url.substr(0, slash);
  ParsedURL parsed;
  parsed.target = std::string(url.substr(slash));
  if (parsed.target.find_first_of(" \t\r\n") != std::string::npos) return std::nullopt;
  size_t colon = authority.find(':');
  parsed.host = std::string(authority.substr(0, colon));
  if (parsed.host.empty() || parsed.host.find_first_not_of("0123456789.") != std::string::npos) {
    return std::nullopt;
  }
  if (colon != std::string_view::npos) {
    auto port = parsePort(authority.substr(colon + 1));
    if (!port || authority[colon + 1] == '+' || authority[colon + 1] == '-') return std::nullopt;
    parsed.port = static_cast<unsigned short>(*port);
  }
  return parsed;
}

// Whole seconds, truncated toward zero: 2.9 gives "2", 0.5 gives "0", infinity gives "inf".
std::string wholeSeconds(double seconds) {
  char text[400];
  std::snprintf(text, sizeof text, "%.0f", std::trunc(seconds));
  return text;
}

[[noreturn]] void dieOf(const TransportError& error, int port, double timeout) {
  switch (error.kind) {
    case TransportError::Kind::cannotConnect:
      die("cannot connect to Tarnel — is the app running? (port " + std::to_string(port) + ")");
    case TransportError::Kind::timedOut:
      die("request timed out after " + wholeSeconds(timeout) + "s");
    case TransportError::Kind::other:
      break;
  }
  die("network error: " + error.description);
}

}  // namespace

VeskClient::VeskClient(int port, double timeout)
    : baseURL("http://127.0.0.1:" + std::to_string(port)), defaultTimeout(timeout) {}

Response VeskClient::request(std::string_view method, std::string_view path,
                             std::optional<std::vector<std::string_view>> body,
                             std::optional<double> timeout) const {
  const double seconds = timeout.value_or(defaultTimeout);
  const std::string url = baseURL + std::string(path);
  auto parsed = parseURL(url);
  if (!parsed) die("invalid URL: " + url);
  const int port = parsed->port.value_or(kDefaultPort);

  // The exchange cells: written once by the completion handler, read once `run` has returned,
  // which is when the handler is done.
  std::optional<std::string> data;
  std::optional<HttpResponse> response;
  std::optional<TransportError> error;

  DataTask task({parsed->host, static_cast<unsigned short>(parsed->port.value_or(80)),
                 std::string(method), parsed->target, std::move(body), seconds, cancellation},
                [&](std::optional<std::string> d, std::optional<HttpResponse> r,
                    std::optional<TransportError> e) {
                  data = std::move(d);
                  response = r;
                  error = std::move(e);
                });
  task.run();  // no deadline of its own: the exchange always ends, by the timeout at the latest

  if (error) dieOf(*error, port, seconds);
  if (!response) die("no HTTP response received");
  Response result{response->statusCode, {}};
  if (data && response->bodyIsUtf8) result.body = std::move(*data);
  return result;
}

Response VeskClient::get(std::string_view path, std::optional<double> timeout) const {
  return request("GET", path, std::nullopt, timeout);
}

Response VeskClient::post(std::string_view path, const JsonBody& json,
                          std::optional<double> timeout) const {
  auto body = json.write();
  if (!body) die("failed to encode JSON body");  // nothing is sent
  return request("POST", path, std::move(body->pieces), timeout);
}

}  // namespace vesk
