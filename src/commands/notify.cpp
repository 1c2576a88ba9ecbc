#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "client/result.h"
#include "commands/commands.h"
#include "commands/presentation.h"

namespace vesk {

void cmdNotify(const VeskClient& client, const Args& args) {
  nlohmann::json body = nlohmann::json::object();
  body["message"] = requireMessage(
      args, "notify", R"(vesk notify "message" [--name NAME] [--color HEX] [--accent HEX])");
  addPresentationOptions(body, args, Card::notify);

  Response response = client.post("/overlay", body);
  requireOK(response);
  if (printedRawJson(args, response)) return;
  succeed(" notification sent");
}

}  // namespace vesk
