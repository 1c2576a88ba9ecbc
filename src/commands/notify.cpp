#include <nlohmann/json.hpp>

#include "client/result.h"
#include "commands/commands.h"
#include "commands/presentation.h"

namespace vesk {

void cmdNotify(const VeskClient& client, const Args& args) {
  nlohmann::json body = nlohmann::json::object();
  body["message"] = requireMessage(
      args, "notify", R"(vesk notify "message" [--name NAME] [--color HEX] [--accent HEX])");
  addPresentationOptions(body, args, Card::notify);

  confirmAction(args, client.post("/overlay", body), " notification sent");
}

}  // namespace vesk
