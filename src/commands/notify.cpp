#include <nlohmann/json.hpp>

#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

nlohmann::json notificationBody(const std::string& message, const Presentation& presentation) {
  nlohmann::json body = nlohmann::json::object();
  body["message"] = message;
  addPresentation(body, presentation, Card::notify);
  return body;
}

}  // namespace

Response postNotification(const VeskClient& client, const std::string& message,
                          const Presentation& presentation) {
  Response response = client.post("/overlay", notificationBody(message, presentation));
  requireOK(response);
  return response;
}

void cmdNotify(const VeskClient& client, const Args& args) {
  std::string message = requireMessage(
      args, "notify", R"(vesk notify "message" [--name NAME] [--color HEX] [--accent HEX])");
  confirmAction(args, postNotification(client, message, presentationOf(args)),
                " notification sent");
}

}  // namespace vesk
