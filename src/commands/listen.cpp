#include "cli/output.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/commands.h"

namespace vesk {

void cmdListen(const VeskClient& client, const Args& args) {
  // The app holds the request open until the user sends or cancels a composed message.
  Response response = client.get("/listen");
  if (response.statusCode == 408) die("request timed out — no message was composed");
  requireOK(response);
  if (printedRawJson(args, response)) return;
  std::string& message = response.body;
  if (!takeJsonValue(message, "message") || message.empty()) {
    return warn("compose was cancelled — no message");
  }
  outFromApp(message);
}

}  // namespace vesk
