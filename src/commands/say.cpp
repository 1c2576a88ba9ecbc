#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

JsonBody userMessageBody(std::string_view message, const Presentation& presentation) {
  JsonBody body;
  body.set("message", message);
  // The user speaks, in white, unless told otherwise; a given option, even empty, replaces these.
  body.set("name", "You");
  body.set("accent_hex", "#FFFFFF");
  addPresentation(body, presentation, Card::say);
  return body;
}

}  // namespace

Response postAsUser(const VeskClient& client, std::string_view message,
                    const Presentation& presentation) {
  return postAccepted(client, "/overlay", userMessageBody(message, presentation));
}

void cmdSay(const VeskClient& client, const Args& args) {
  std::string_view message =
      requireMessage(args, "say", R"(vesk say "message" [--name NAME] [--accent HEX])");
  confirmAction(args, postAsUser(client, message, presentationOf(args)), " message sent");
}

}  // namespace vesk
