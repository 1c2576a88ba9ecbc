#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

JsonBody notificationBody(std::string_view message, const Presentation& presentation) {
  JsonBody body;
  body.set("message", message);
  addPresentation(body, presentation, Card::notify);
  return body;
}

}  // namespace

Response postNotification(const VeskClient& client, std::string_view message,
                          const Presentation& presentation) {
  return postAccepted(client, "/overlay", notificationBody(message, presentation));
}

void cmdNotify(const VeskClient& client, const Args& args) {
  std::string_view message = requireMessage(
      args, "notify", R"(vesk notify "message" [--name NAME] [--color HEX] [--accent HEX])");
  confirmAction(args, postNotification(client, message, presentationOf(args)),
                " notification sent");
}

}  // namespace vesk
