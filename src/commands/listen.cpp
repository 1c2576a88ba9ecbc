#include "cli/output.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {

Response listenForMessage(const VeskClient& client) {
  // The app holds the request open until the user sends or cancels a composed message.
  Response response = client.get("/listen");
  if (response.statusCode == 408) die("request timed out — no message was composed");
  requireOK(response);
  return response;
}

std::optional<std::string> composedMessageOf(Response answer) {
  std::string& message = answer.body;
  if (!takeJsonValue(message, "message") || message.empty()) return std::nullopt;
  return std::move(message);
}

void cmdListen(const VeskClient& client, const Args& args) {
  Response response = listenForMessage(client);
  if (printedRawJson(args, response)) return;
  auto message = composedMessageOf(std::move(response));
  if (!message) return warn("compose was cancelled — no message");
  outFromApp(*message);
}

}  // namespace vesk
