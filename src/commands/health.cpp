#include "cli/output.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {

Response checkHealth(const VeskClient& client) {
  Response response = client.get("/health", kQuickCheckTimeoutSeconds);
  if (response.statusCode != 200) {
    die("unexpected response (" + std::to_string(response.statusCode) + "): " + response.body);
  }
  return response;
}

Health healthOf(const Response& answer) {
  auto values = jsonValues(answer.body, {"port", "games"});
  return {std::move(values[0]), std::move(values[1])};
}

void cmdHealth(const VeskClient& client, const Args& args) {
  Response response = checkHealth(client);
  if (printedRawJson(args, response)) return;
  Health health = healthOf(response);
  std::string port = fromApp(health.port.value_or("?"));
  std::string games = fromApp(health.games.value_or("[]"));
  out(paint("●", C::green) + " Tarnel is running on port " + paint(port, C::bold));
  out(paint("  games:", C::dim) + " " + games);
}

}  // namespace vesk
