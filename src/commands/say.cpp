#include <nlohmann/json.hpp>

#include "client/result.h"
#include "commands/commands.h"
#include "commands/presentation.h"

namespace vesk {

void cmdSay(const VeskClient& client, const Args& args) {
  nlohmann::json body = nlohmann::json::object();
  body["message"] =
      requireMessage(args, "say", R"(vesk say "message" [--name NAME] [--accent HEX])");
  // The user speaks, in white, unless told otherwise; a given option, even empty, replaces these.
  body["name"] = "You";
  body["accent_hex"] = "#FFFFFF";
  addPresentationOptions(body, args, Card::say);

  confirmAction(args, client.post("/overlay", body), " message sent");
}

}  // namespace vesk
