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

std::optional<std::string_view> composedMessageIn(Response& answer) {
  auto message = jsonValueInPlace(answer.body, "message");
  if (!message || message->empty()) return std::nullopt;
  return message;
}

std::optional<std::string> composedMessageOf(Response answer) {
  auto message = composedMessageIn(answer);
  if (!message) return std::nullopt;
  keepOnly(answer.body, *message);
  return std::move(answer.body);
}

void cmdListen(const VeskClient& client, const Args& args) {
  Response response = listenForMessage(client);
  if (printedRawJson(args, response)) return;
  auto message = composedMessageIn(response);
  if (!message) return warn("compose was cancelled — no message");
  outFromApp(*message);
}

}  // namespace vesk
