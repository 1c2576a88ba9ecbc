#include <nlohmann/json.hpp>

#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

nlohmann::json userMessageBody(const std::string& message, const Presentation& presentation) {
  nlohmann::json body = nlohmann::json::object();
  body["message"] = message;
  // The user speaks, in white, unless told otherwise; a given option, even empty, replaces these.
  body["name"] = "You";
  body["accent_hex"] = "#FFFFFF";
  addPresentation(body, presentation, Card::say);
  return body;
}

}  // namespace

Response postAsUser(const VeskClient& client, const std::string& message,
                    const Presentation& presentation) {
  Response response = client.post("/overlay", userMessageBody(message, presentation));
  requireOK(response);
  return response;
}

void cmdSay(const VeskClient& client, const Args& args) {
  std::string message =
      requireMessage(args, "say", R"(vesk say "message" [--name NAME] [--accent HEX])");
  confirmAction(args, postAsUser(client, message, presentationOf(args)), " message sent");
}

}  // namespace vesk
